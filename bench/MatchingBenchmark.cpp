// Cost of matching one recognition result: the 96-character window against a growing
// phrase list, in English and Korean. Run: build/bin/matching_benchmark
#include "matching/WakePhraseMatching.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> phraseList(int count, bool korean) {
    static const std::vector<std::string> englishNames{"Alice", "Bob Smith", "Dr Kim", "Carol", "Mr Park",
                                                       "Dave",  "Eve",       "Frank",  "Grace", "Heidi"};
    static const std::vector<std::string> koreanNames{"민수", "지훈",    "서연", "팀장님", "대표님",
                                                      "하준", "김 민수", "도윤", "서준",   "예은"};
    const auto& names = korean ? koreanNames : englishNames;
    std::vector<std::string> phrases;
    phrases.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        phrases.push_back(names[static_cast<size_t>(i) % names.size()] + std::to_string(i));
    }
    return phrases;
}

// A full-size window that matches none of the phrases, so every phrase is tried.
std::string window(bool korean) {
    std::string text = korean ? "그래서 오늘 회의는 몇 시에 시작하나요 저는 잘 모르겠어요 아마 세 시쯤일 거예요 "
                                "다들 준비는 되셨나요 자료는 어디에 있나요 "
                              : "so what time does the meeting start today I am not sure maybe around three "
                                "o'clock is everyone ready";
    return text;
}

void matchWindow(benchmark::State& state, bool korean) {
    const auto phrases = phraseList(static_cast<int>(state.range(0)), korean);
    const auto locale = korean ? harkwell::AppLocale::korean : harkwell::AppLocale::english;
    // A phrase of 72 characters or more gives the largest window, 96 characters.
    const auto windowText = harkwell::recentWakePhraseWindow(window(korean), "", {std::string(72, 'x')});
    for (auto _ : state) {
        benchmark::DoNotOptimize(harkwell::matchWakePhrases(windowText, phrases, locale));
    }
    state.SetComplexityN(state.range(0));
}

void BM_MatchEnglishWindow(benchmark::State& state) { matchWindow(state, false); }
void BM_MatchKoreanWindow(benchmark::State& state) { matchWindow(state, true); }

} // namespace

BENCHMARK(BM_MatchEnglishWindow)->Arg(1)->Arg(10)->Arg(100)->Complexity(benchmark::oN);
BENCHMARK(BM_MatchKoreanWindow)->Arg(1)->Arg(10)->Arg(100)->Complexity(benchmark::oN);

BENCHMARK_MAIN();
