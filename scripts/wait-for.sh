# Sourced by the screenshot scripts: wait_for COMMAND... polls the command until it succeeds, for
# up to 20 seconds, and says what it gave up on otherwise.
wait_for() {
    for _ in $(seq 200); do
        if "$@"; then return 0; fi
        sleep 0.1
    done
    echo "$(basename "$0" .sh): gave up waiting for: $*" >&2
    return 1
}
