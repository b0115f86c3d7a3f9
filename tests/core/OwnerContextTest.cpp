#include "core/OwnerContext.h"

#include "EventLoop.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace harkwell {
namespace {

// An owner on the test's thread and what reached it, with the thread it ran on.
struct Owner {
    std::vector<std::string> heard;
    std::vector<QThread*> ranOn;
    OwnerContext context;

    std::function<void(std::string)> hear() {
        return [this](const std::string& what) {
            heard.push_back(what);
            ranOn.push_back(QThread::currentThread());
        };
    }
};

// Work handed in from other threads runs later, not at once; once the owner has gone, neither
// what was still queued nor what comes later runs.
TEST(OwnerContextTest, WorkRunsOnTheOwnersThreadWhileTheOwnerLives) {
    const std::vector<std::tuple<const char*, bool, std::vector<std::string>>> cases{
        {"the owner lives on", false, {"posted", "bound Olivia"}},
        {"the owner goes with work still queued", true, {}},
    };
    for (const auto& [name, ownerGoes, expected] : cases) {
        SCOPED_TRACE(name);
        auto owner = std::make_unique<Owner>();
        std::vector<std::string> heard;
        const auto handle = owner->context.handle();
        const auto bound = owner->context.bind<const std::string&>(
            [&heard](const std::string& phrase) { heard.push_back("bound " + phrase); });
        std::thread([&] {
            handle.post([&heard] { heard.push_back("posted"); });
            bound("Olivia");
            EXPECT_TRUE(handle.isAlive());
        }).join();
        EXPECT_TRUE(heard.empty()) << "ran at once, not later on the owner's thread";
        if (ownerGoes) {
            owner.reset();
        }
        testing::settle();
        EXPECT_EQ(heard, expected);
        std::thread([&] {
            EXPECT_EQ(handle.isAlive(), !ownerGoes);
            handle.post([&heard] { heard.push_back("after"); });
        }).join();
        testing::settle();
        EXPECT_EQ(heard.size(), expected.size() + (ownerGoes ? 0 : 1));
    }
}

TEST(OwnerContextTest, PostedWorkRunsOnTheOwnersThreadAndGuardedCallbacksAtOnceUntilTheOwnerGoes) {
    auto owner = std::make_unique<Owner>();
    std::thread([post = owner->context.handle(), hear = owner->hear()] {
        post.post([hear] { hear("posted"); });
    }).join();
    EXPECT_TRUE(testing::eventually([&] { return !owner->heard.empty(); }));
    EXPECT_EQ(owner->ranOn, std::vector<QThread*>{QThread::currentThread()});

    int calls = 0;
    const auto guarded = owner->context.guard<int>([&calls](int count) { calls += count; });
    guarded(2);
    EXPECT_EQ(calls, 2) << "a guarded callback runs at once";
    owner.reset();
    guarded(3);
    EXPECT_EQ(calls, 2) << "and not once its owner has gone";
    EXPECT_FALSE(OwnerContext::Handle().isAlive());
}

} // namespace
} // namespace harkwell
