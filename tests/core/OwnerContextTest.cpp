#include "core/OwnerContext.h"

#include "EventLoop.h"

#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace harkwell {
namespace {

// Work handed in from other threads runs later on the owner's thread, not at once; once the owner
// has gone, neither what was still queued nor what comes later runs. A guarded callback runs at
// once, until the owner goes.
TEST(OwnerContextTest, WorkRunsOnTheOwnersThreadWhileTheOwnerLives) {
    const std::vector<std::tuple<const char*, bool, std::vector<std::string>>> cases{
        {"the owner lives on", false, {"posted", "bound Olivia"}},
        {"the owner goes with work still queued", true, {}},
    };
    for (const auto& [name, ownerGoes, expected] : cases) {
        SCOPED_TRACE(name);
        auto owner = std::make_unique<OwnerContext>();
        std::vector<std::string> heard;
        std::vector<QThread*> ranOn;
        const auto hear = [&](const std::string& what) {
            heard.push_back(what);
            ranOn.push_back(QThread::currentThread());
        };
        const auto handle = owner->handle();
        const auto bound = owner->bind<const std::string&>([&](const std::string& phrase) { hear("bound " + phrase); });
        int calls = 0;
        const auto guarded = owner->guard<int>([&calls](int count) { calls += count; });
        std::thread([&] {
            handle.post([&] { hear("posted"); });
            bound("Olivia");
            EXPECT_TRUE(handle.isAlive());
        }).join();
        EXPECT_TRUE(heard.empty()) << "ran at once, not later on the owner's thread";
        guarded(2);
        EXPECT_EQ(calls, 2) << "a guarded callback runs at once";
        if (ownerGoes) {
            owner.reset();
        }
        testing::settle();
        EXPECT_EQ(heard, expected);
        EXPECT_EQ(ranOn, std::vector<QThread*>(expected.size(), QThread::currentThread()));
        guarded(3);
        EXPECT_EQ(calls, ownerGoes ? 2 : 5);
        std::thread([&] {
            EXPECT_EQ(handle.isAlive(), !ownerGoes);
            handle.post([&] { hear("after"); });
        }).join();
        testing::settle();
        EXPECT_EQ(heard.size(), expected.size() + (ownerGoes ? 0 : 1));
    }
    EXPECT_FALSE(OwnerContext::Handle().isAlive());
}

} // namespace
} // namespace harkwell
