# whisper.cpp (with its ggml) from deps/whisper.cpp, which scripts/setup.sh fetches, as static
# libraries; link the target `whisper` for whisper.h. Included before the project's warning and
# sanitizer options so that neither applies to this third-party code, and not in the fuzz build.
set(HARKWELL_DEPS_DIR "${PROJECT_SOURCE_DIR}/deps" CACHE PATH "Folder of the fetched third-party parts (scripts/setup.sh fills it)")

if(HARKWELL_FUZZ)
  return()
endif()

if(NOT EXISTS "${HARKWELL_DEPS_DIR}/whisper.cpp/CMakeLists.txt")
  message(FATAL_ERROR "whisper.cpp is missing from ${HARKWELL_DEPS_DIR}/whisper.cpp: run scripts/setup.sh")
endif()

enable_language(C)
if(HARKWELL_CCACHE AND NOT CMAKE_C_COMPILER_LAUNCHER)
  set(CMAKE_C_COMPILER_LAUNCHER ${HARKWELL_CCACHE})
endif()

block()
  # whisper.cpp asks for CMake 3.5, whose option() would drop the values set here.
  set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)
  set(BUILD_SHARED_LIBS OFF)
  set(WHISPER_BUILD_TESTS OFF)
  set(WHISPER_BUILD_EXAMPLES OFF)
  set(WHISPER_BUILD_SERVER OFF)
  set(WHISPER_CURL OFF)
  set(WHISPER_SDL2 OFF)
  set(WHISPER_ALL_WARNINGS OFF)
  # whisper.cpp and ggml name the C++ standards they are written for; C++20 is the project's own.
  unset(CMAKE_CXX_STANDARD)
  # ggml compiles in the commit of the git repository around it, which would be Harkwell's:
  # every new commit would rebuild ggml. `true` stands in for git, so the commit is "unknown".
  set(GIT_EXE true)
  # The package runs on other machines: x86-64-v3 (AVX2, FMA, F16C, BMI2) rather than the
  # build machine's instruction set. The application checks the processor before loading a model.
  set(GGML_NATIVE OFF)
  set(GGML_SSE42 ON)
  set(GGML_AVX ON)
  set(GGML_AVX2 ON)
  set(GGML_FMA ON)
  set(GGML_F16C ON)
  set(GGML_BMI2 ON)
  # ggml's own thread pool: no libgomp to ship, and no OpenMP threads spinning after each run.
  # whisper.cpp's matrix-product benchmark on two threads ran as fast with it as with OpenMP.
  set(GGML_OPENMP OFF)
  # Recognition has to keep up with the microphone in the sanitizer build too.
  set(CMAKE_C_FLAGS_DEBUG "-O2 -g")
  set(CMAKE_CXX_FLAGS_DEBUG "-O2 -g")
  add_subdirectory("${HARKWELL_DEPS_DIR}/whisper.cpp" "${CMAKE_BINARY_DIR}/whisper.cpp" EXCLUDE_FROM_ALL SYSTEM)
endblock()
