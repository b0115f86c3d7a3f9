#pragma once

#include "locale/AppText.h"

#include <QString>

#include <string_view>

namespace harkwell {

// One text of the interface in both of its languages.
struct PanelText {
    std::string_view korean;
    std::string_view english;

    // The text in the current interface language.
    QString text() const;
    QString text(AppLocale locale) const;
};

// Every text the control panel and the tray icon show, in one place: the panel shows them from
// here, and the tests compare what the panel shows with these.
namespace panelTexts {

inline constexpr PanelText quit{.korean = "종료", .english = "Quit"};

// The permission screen.
inline constexpr PanelText permissionTitle{.korean = "처음 한 번 권한을 준비합니다.",
                                           .english = "Set up permissions once."};
inline constexpr PanelText permissionExplanation{
    .korean = "마이크, 음성 인식, Bluetooth 권한을 허용하면 다음 실행부터 바로 사용할 수 있습니다.",
    .english = "Allow Microphone, Speech Recognition, and Bluetooth access to start using Harkwell."};
inline constexpr PanelText permissionButton{.korean = "권한 준비", .english = "Set Up Permissions"};

// The main controls.
inline constexpr PanelText detection{.korean = "호출 감지", .english = "Call Detection"};
inline constexpr PanelText sensitivityTitle{.korean = "민감도", .english = "Sensitivity"};
inline constexpr PanelText sensitivityLow{.korean = "낮음", .english = "Low"};
inline constexpr PanelText sensitivityMedium{.korean = "보통", .english = "Medium"};
inline constexpr PanelText sensitivityHigh{.korean = "높음", .english = "High"};
// Under the picker while Low is chosen.
inline constexpr PanelText sensitivityLowHint{.korean = "낮음: 누군가 나에게 말을 걸 때만",
                                              .english = "Low: only when someone speaks to you"};
inline constexpr PanelText returnTitle{.korean = "노이즈 캔슬링으로 돌아가기", .english = "Back to noise cancellation"};
inline constexpr PanelText returnOff{.korean = "끄기", .english = "Off"};
// %1: seconds.
inline constexpr PanelText returnAfter{.korean = "%1초 후", .english = "After %1 s"};
inline constexpr PanelText returnPending{.korean = "%1초 후 노이즈 캔슬링으로 돌아갑니다",
                                         .english = "Back to noise cancellation in %1 s"};
inline constexpr PanelText microphoneTitle{.korean = "마이크", .english = "Microphone"};
inline constexpr PanelText microphoneAutomatic{.korean = "자동 (내장 마이크)", .english = "Automatic (built-in)"};
// After a Bluetooth input's description.
inline constexpr PanelText bluetoothMark{.korean = "(AirPods가 헤드셋 모드로 바뀜)",
                                         .english = "(switches the AirPods to headset mode)"};
// %1: the description of the input listening uses instead of the chosen one.
inline constexpr PanelText microphoneFallback{.korean = "선택한 마이크가 없어 %1(으)로 듣는 중",
                                              .english = "Microphone not connected: listening on %1"};
// %1: the Bluetooth input's description.
inline constexpr PanelText bluetoothQuestion{
    .korean = "%1을(를) 사용할까요? 듣는 동안 AirPods가 헤드셋 모드로 바뀌어 음질이 낮아집니다.",
    .english = "Use %1? While Harkwell listens on it, the AirPods switch to headset mode and sound worse."};
inline constexpr PanelText bluetoothConfirm{.korean = "사용", .english = "Use"};
inline constexpr PanelText bluetoothCancel{.korean = "취소", .english = "Cancel"};
inline constexpr PanelText inputLevel{.korean = "입력 레벨", .english = "Input level"};
inline constexpr PanelText phrasesTitle{.korean = "호출어", .english = "Call Phrases"};
// %1: how many phrases listening uses.
inline constexpr PanelText phraseCount{.korean = "적용 중: %1개", .english = "Active: %1"};
// Instead while there are more phrases than listening takes. %1: how many it uses; %2: how many there are.
inline constexpr PanelText phraseCountLimited{.korean = "호출 문구 %2개 중 처음 %1개 감지",
                                              .english = "Listening for the first %1 of %2 phrases"};
inline constexpr PanelText phrasePlaceholder{.korean = "이름, 팀장님, 대표님", .english = "Ann, James, Mr Smith"};
inline constexpr PanelText addPhrase{.korean = "호출어 추가", .english = "Add call phrase"};
inline constexpr PanelText removePhrase{.korean = "호출어 삭제", .english = "Remove call phrase"};
inline constexpr PanelText noPhrases{.korean = "호출어를 추가하면 감지를 시작할 수 있습니다.",
                                     .english = "Add a call phrase to start detection."};
inline constexpr PanelText modeTitle{.korean = "AirPods 모드", .english = "AirPods Mode"};
inline constexpr PanelText modeAnc{.korean = "노캔", .english = "ANC"};
inline constexpr PanelText modeTransparency{.korean = "주변음", .english = "Transparency"};
inline constexpr PanelText modeOff{.korean = "끔", .english = "Off"};
inline constexpr PanelText shortcutTitle{.korean = "단축키", .english = "Shortcut"};
inline constexpr PanelText shortcutRecording{.korean = "입력 중", .english = "Recording"};
inline constexpr PanelText shortcutNone{.korean = "없음", .english = "None"};
inline constexpr PanelText recordShortcut{.korean = "기록", .english = "Record"};
inline constexpr PanelText cancelRecording{.korean = "취소", .english = "Cancel"};
inline constexpr PanelText clearShortcut{.korean = "지우기", .english = "Clear"};
inline constexpr PanelText startAtLogin{.korean = "로그인 시 시작", .english = "Start at login"};
inline constexpr PanelText listenAtStart{.korean = "시작할 때 듣기", .english = "Listen when Harkwell starts"};

// The tray icon's tooltip, after "Harkwell: ". %1: how many call phrases listening uses.
inline constexpr PanelText listeningForOne{.korean = "호출 문구 %1개 감지 중",
                                           .english = "listening for %1 call phrase"};
inline constexpr PanelText listeningForMany{.korean = "호출 문구 %1개 감지 중",
                                            .english = "listening for %1 call phrases"};
inline constexpr PanelText notListening{.korean = "감지 꺼짐", .english = "not listening"};
// After the listening text while the AirPods are in Transparency because of a call.
inline constexpr PanelText transparencyAfterCall{.korean = " · 호출 후 주변음 모드",
                                                 .english = "; AirPods in Transparency after a call"};

} // namespace panelTexts
} // namespace harkwell
