<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ko_KR" sourcelanguage="en_US">
<context>
    <name>ToggleModeCommand</name>
    <message>
        <source>Cannot reach the session bus: %1</source>
        <translation>세션 버스에 연결할 수 없습니다: %1</translation>
    </message>
    <message>
        <source>Harkwell is not running.</source>
        <translation>Harkwell이 실행 중이 아닙니다.</translation>
    </message>
    <message>
        <source>Harkwell did not take the request: %1</source>
        <translation>Harkwell이 요청을 받아들이지 않았습니다: %1</translation>
    </message>
</context>
<context>
    <name>harkwell::AppError</name>
    <message>
        <source>The chosen microphone is not connected.</source>
        <translation>선택한 마이크가 연결되어 있지 않습니다.</translation>
    </message>
    <message>
        <source>AirPods are not connected. Connect them and try again.</source>
        <translation>AirPods가 연결되어 있지 않습니다. 연결한 뒤 다시 시도해 주세요.</translation>
    </message>
</context>
<context>
    <name>harkwell::AppModel</name>
    <message>
        <source>Complete permission setup first.</source>
        <translation>먼저 권한 준비를 완료해 주세요.</translation>
    </message>
    <message>
        <source>Listening resumed: the sound server is back.</source>
        <translation>사운드 서버가 돌아와 다시 듣고 있습니다.</translation>
    </message>
    <message>
        <source>Settings could not be saved: %1</source>
        <translation>설정을 저장하지 못했습니다: %1</translation>
    </message>
    <message>
        <source>The settings file was damaged; what could be read was kept. A copy of the damaged file is at %1.</source>
        <translation>설정 파일이 손상되어 읽을 수 있는 설정만 남겼습니다. 손상된 파일의 사본: %1</translation>
    </message>
    <message>
        <source>The settings file could not be read (not a file, or larger than 1 MiB); it was moved aside unread to %1.</source>
        <translation>설정 파일을 읽을 수 없어(파일이 아니거나 1MiB보다 큼) 읽지 않은 채 %1(으)로 옮겼습니다.</translation>
    </message>
    <message>
        <source>Waiting for the AirPods to answer…</source>
        <translation>AirPods의 응답을 기다리는 중…</translation>
    </message>
    <message>
        <source>The AirPods did not answer in time, so their mode could not be read.</source>
        <translation>AirPods가 제때 응답하지 않아 모드를 읽지 못했습니다.</translation>
    </message>
    <message>
        <source>Start at login could not be turned on: %1</source>
        <translation>로그인 시 시작을 켜지 못했습니다: %1</translation>
    </message>
    <message>
        <source>Start at login could not be turned off: %1</source>
        <translation>로그인 시 시작을 끄지 못했습니다: %1</translation>
    </message>
    <message>
        <source>Another AirPods command is running.</source>
        <translation>다른 AirPods 명령이 실행 중입니다.</translation>
    </message>
    <message>
        <source>Add a call phrase first.</source>
        <translation>호출어를 먼저 추가해야 합니다.</translation>
    </message>
    <message>
        <source>Listening for %1 of %2 call phrases: up to 50, of at most 100 characters each.</source>
        <translation>호출 문구 %2개 중 %1개만 감지합니다(최대 50개, 각 100자 이하).</translation>
    </message>
    <message>
        <source>Enter a call phrase first.</source>
        <translation>호출어를 먼저 입력해야 합니다.</translation>
    </message>
</context>
<context>
    <name>harkwell::GnomeCustomKeybindings</name>
    <message>
        <source>GNOME&apos;s settings store (dconf) is not installed.</source>
        <translation>GNOME 설정 저장소(dconf)가 설치되어 있지 않습니다.</translation>
    </message>
    <message>
        <source>GNOME&apos;s keyboard shortcuts cannot be changed.</source>
        <translation>GNOME 키보드 단축키를 바꿀 수 없습니다.</translation>
    </message>
</context>
<context>
    <name>harkwell::HotKeyBackend</name>
    <message>
        <source>Switch AirPods between noise cancellation and transparency</source>
        <translation>AirPods 노이즈 캔슬링과 주변음 허용 전환</translation>
    </message>
</context>
<context>
    <name>harkwell::HotKeyController</name>
    <message>
        <source>Harkwell: switch the AirPods&apos; mode</source>
        <translation>Harkwell: AirPods 모드 전환</translation>
    </message>
</context>
<context>
    <name>harkwell::HotKeyError</name>
    <message>
        <source>Add it to GNOME&apos;s keyboard shortcuts with the button below.</source>
        <translation>아래 버튼으로 GNOME 키보드 단축키에 추가하세요.</translation>
    </message>
    <message>
        <source>Add the line below to sway&apos;s config.</source>
        <translation>아래 줄을 sway 설정 파일에 추가하세요.</translation>
    </message>
    <message>
        <source>Bind harkwell --toggle-mode to it in the desktop&apos;s keyboard settings.</source>
        <translation>데스크톱의 키보드 설정에서 이 조합에 harkwell --toggle-mode를 지정하세요.</translation>
    </message>
    <message>
        <source>This desktop does not let apps register shortcuts.</source>
        <translation>이 데스크톱은 앱이 단축키를 등록하도록 허용하지 않습니다.</translation>
    </message>
    <message>
        <source>Could not register the shortcut: another app already uses it.</source>
        <translation>단축키를 등록할 수 없습니다. 다른 앱에서 이미 쓰는 조합입니다.</translation>
    </message>
    <message>
        <source>Could not register the shortcut: the key is not on the current keyboard layout.</source>
        <translation>단축키를 등록할 수 없습니다. 현재 키보드 배열에 없는 키입니다.</translation>
    </message>
    <message>
        <source>The desktop did not bind the shortcut.</source>
        <translation>데스크톱이 단축키를 지정하지 않았습니다.</translation>
    </message>
    <message>
        <source>The desktop did not answer in time about the shortcut.</source>
        <translation>데스크톱이 단축키에 대해 제때 응답하지 않았습니다.</translation>
    </message>
    <message>
        <source>The desktop is still asking about the shortcut recorded before.</source>
        <translation>데스크톱이 아직 앞서 기록한 단축키를 확인하고 있습니다.</translation>
    </message>
    <message>
        <source>Could not register the shortcut: the X server refused it.</source>
        <translation>단축키를 등록할 수 없습니다. X 서버가 거부했습니다.</translation>
    </message>
</context>
<context>
    <name>harkwell::ListeningSession</name>
    <message>
        <source>Accurate recognition model not installed: listening with the basic recogniser.</source>
        <translation>정확한 인식 모델이 설치되지 않았습니다. 기본 인식기로 듣고 있습니다.</translation>
    </message>
    <message>
        <source>Accurate recognition model could not be loaded: listening with the basic recogniser.</source>
        <translation>정확한 인식 모델을 불러오지 못했습니다. 기본 인식기로 듣고 있습니다.</translation>
    </message>
    <message>
        <source>Accurate recognition model not installed: Korean cannot be heard.</source>
        <translation>정확한 인식 모델이 설치되지 않았습니다. 한국어를 들을 수 없습니다.</translation>
    </message>
    <message>
        <source>Accurate recognition model could not be loaded: Korean cannot be heard.</source>
        <translation>정확한 인식 모델을 불러오지 못했습니다. 한국어를 들을 수 없습니다.</translation>
    </message>
    <message>
        <source>The installed recognition model hears English only: Korean cannot be heard.</source>
        <translation>설치된 인식 모델은 영어만 듣습니다. 한국어를 들을 수 없습니다.</translation>
    </message>
</context>
<context>
    <name>harkwell::PermissionSetup</name>
    <message>
        <source>Permissions required</source>
        <translation>권한 준비 필요</translation>
    </message>
    <message>
        <source>Permissions ready</source>
        <translation>권한 준비 완료</translation>
    </message>
    <message>
        <source>Checking Speech Recognition permission</source>
        <translation>음성 인식 권한 확인 중</translation>
    </message>
    <message>
        <source>Speech Recognition permission is required.</source>
        <translation>음성 인식 권한을 허용해야 합니다.</translation>
    </message>
    <message>
        <source>Checking microphone permission</source>
        <translation>마이크 권한 확인 중</translation>
    </message>
    <message>
        <source>Microphone permission is required.</source>
        <translation>마이크 권한을 허용해야 합니다.</translation>
    </message>
    <message>
        <source>Checking Bluetooth permission</source>
        <translation>Bluetooth 권한 확인 중</translation>
    </message>
</context>
<context>
    <name>harkwell::PhraseBook</name>
    <message>
        <source>You can add up to 50 call phrases.</source>
        <translation>호출 문구는 50개까지 추가할 수 있습니다.</translation>
    </message>
    <message>
        <source>A call phrase can be at most 100 characters long.</source>
        <translation>호출 문구는 100자 이하여야 합니다.</translation>
    </message>
    <message>
        <source>A call phrase needs at least one letter or number.</source>
        <translation>호출 문구에는 글자나 숫자가 하나 이상 있어야 합니다.</translation>
    </message>
    <message>
        <source>“%1” is already in the list.</source>
        <translation>“%1”은(는) 이미 목록에 있습니다.</translation>
    </message>
    <message>
        <source>%1 and %2 more</source>
        <translation>%1 외 %2개</translation>
    </message>
    <message>
        <source>Pasted %1 of %2 phrases: the field holds %3 characters. Not pasted: %4.</source>
        <translation>붙여 넣은 호출 문구 %2개 중 %1개만 넣었습니다(입력란은 최대 %3자). 넣지 못한 문구: %4</translation>
    </message>
    <message>
        <source>“%1” cannot be heard: write call phrases in Latin letters or Hangul.</source>
        <translation>“%1”은(는) 들을 수 없습니다. 호출 문구는 로마자나 한글로 쓰세요.</translation>
    </message>
    <message>
        <source>“%1” cannot be heard: Korean needs the accurate recognition model.</source>
        <translation>“%1”은(는) 들을 수 없습니다. 한국어에는 정확한 인식 모델이 필요합니다.</translation>
    </message>
    <message>
        <source>Added %1 call phrases.</source>
        <translation>호출 문구 %1개를 추가했습니다.</translation>
    </message>
</context>
<context>
    <name>harkwell::ShortcutRecorder</name>
    <message>
        <source>Added to GNOME&apos;s keyboard shortcuts: %1 runs harkwell --toggle-mode.</source>
        <translation>GNOME 키보드 단축키에 추가했습니다. %1 키로 harkwell --toggle-mode가 실행됩니다.</translation>
    </message>
    <message>
        <source>Press a key together with Super, Ctrl, Alt or Shift.</source>
        <translation>Super, Ctrl, Alt, Shift 중 하나와 함께 키를 눌러주세요.</translation>
    </message>
</context>
<context>
    <name>harkwell::main</name>
    <message>
        <source>Usage: harkwell [--whisper-model PATH]
       harkwell --toggle-mode | --help | --version

Harkwell sits in the system tray, listens for your call phrases and switches your AirPods to
Transparency when someone calls you.

  (no option)           start Harkwell, or open the control panel of the one already running
  --whisper-model PATH  start Harkwell with the whisper.cpp model file at PATH for accurate
                        recognition instead of the installed one (a Harkwell already running
                        keeps its own)
  --toggle-mode         toggle the running Harkwell&apos;s AirPods between noise cancellation and
                        transparency, as the global shortcut does
  --help                print this help and exit
  --version             print the version and exit

Environment: HARKWELL_WHISPER_MODEL=PATH chooses the model file when --whisper-model does not;
HARKWELL_PREVIEW_CALL_HUD=1 shows the call panel once and exits;
QT_LOGGING_RULES=&quot;harkwell.*=true&quot; prints diagnostics to standard error.
</source>
        <translation>사용법: harkwell [--whisper-model 경로]
        harkwell --toggle-mode | --help | --version

Harkwell은 시스템 트레이에서 호출 문구를 듣고 있다가, 누군가 부르면 AirPods를 주변음 허용
모드로 바꿉니다.

  (옵션 없음)           Harkwell을 시작하거나, 이미 실행 중인 Harkwell의 제어판을 엽니다
  --whisper-model 경로  설치된 모델 대신 경로의 whisper.cpp 모델 파일로 정확하게 인식하며
                        Harkwell을 시작합니다(이미 실행 중인 Harkwell은 자기 모델을 그대로
                        씁니다)
  --toggle-mode         실행 중인 Harkwell의 AirPods를 노이즈 캔슬링과 주변음 허용 사이에서
                        전환합니다(전역 단축키와 같습니다)
  --help                이 도움말을 출력하고 끝냅니다
  --version             버전을 출력하고 끝냅니다

환경 변수: --whisper-model이 없으면 HARKWELL_WHISPER_MODEL=경로가 모델 파일을 정합니다.
HARKWELL_PREVIEW_CALL_HUD=1이면 호출 패널을 한 번 보여 주고 끝냅니다.
QT_LOGGING_RULES=&quot;harkwell.*=true&quot;이면 진단 메시지를 표준 오류로 출력합니다.
</translation>
    </message>
    <message>
        <source>harkwell: --whisper-model needs the path of a model file</source>
        <translation>harkwell: --whisper-model에는 모델 파일의 경로가 필요합니다</translation>
    </message>
    <message>
        <source>harkwell: unknown option &apos;%1&apos;</source>
        <translation>harkwell: 알 수 없는 옵션 &apos;%1&apos;</translation>
    </message>
    <message>
        <source>harkwell: takes one option at most</source>
        <translation>harkwell: 옵션은 하나만 줄 수 있습니다</translation>
    </message>
    <message>
        <source>Harkwell is already running but did not answer.</source>
        <translation>Harkwell이 이미 실행 중이지만 응답하지 않습니다.</translation>
    </message>
    <message>
        <source>Harkwell runs without its session-bus service: %1</source>
        <translation>Harkwell이 세션 버스 서비스 없이 실행됩니다: %1</translation>
    </message>
</context>
<context>
    <name>harkwell::panelTexts</name>
    <message>
        <source>Quit</source>
        <translation>종료</translation>
    </message>
    <message>
        <source>Set up permissions once.</source>
        <translation>처음 한 번 권한을 준비합니다.</translation>
    </message>
    <message>
        <source>Allow Microphone, Speech Recognition, and Bluetooth access to start using Harkwell.</source>
        <translation>마이크, 음성 인식, Bluetooth 권한을 허용하면 다음 실행부터 바로 사용할 수 있습니다.</translation>
    </message>
    <message>
        <source>Set Up Permissions</source>
        <translation>권한 준비</translation>
    </message>
    <message>
        <source>Call Detection</source>
        <translation>호출 감지</translation>
    </message>
    <message>
        <source>Sensitivity</source>
        <translation>민감도</translation>
    </message>
    <message>
        <source>Low</source>
        <translation>낮음</translation>
    </message>
    <message>
        <source>Medium</source>
        <translation>보통</translation>
    </message>
    <message>
        <source>High</source>
        <translation>높음</translation>
    </message>
    <message>
        <source>Low: only when someone speaks to you</source>
        <translation>낮음: 누군가 나에게 말을 걸 때만</translation>
    </message>
    <message>
        <source>Back to noise cancellation</source>
        <translation>노이즈 캔슬링으로 돌아가기</translation>
    </message>
    <message>
        <source>Off</source>
        <comment>return after a call</comment>
        <translation>끄기</translation>
    </message>
    <message>
        <source>After %1 s</source>
        <translation>%1초 후</translation>
    </message>
    <message>
        <source>Back to noise cancellation in %1 s</source>
        <translation>%1초 후 노이즈 캔슬링으로 돌아갑니다</translation>
    </message>
    <message>
        <source>Microphone</source>
        <translation>마이크</translation>
    </message>
    <message>
        <source>Automatic (built-in)</source>
        <translation>자동 (내장 마이크)</translation>
    </message>
    <message>
        <source>(switches the AirPods to headset mode)</source>
        <translation>(AirPods가 헤드셋 모드로 바뀜)</translation>
    </message>
    <message>
        <source>Microphone not connected: listening on %1</source>
        <translation>선택한 마이크가 없어 %1(으)로 듣는 중</translation>
    </message>
    <message>
        <source>Use %1? While Harkwell listens on it, the AirPods switch to headset mode and sound worse.</source>
        <translation>%1을(를) 사용할까요? 듣는 동안 AirPods가 헤드셋 모드로 바뀌어 음질이 낮아집니다.</translation>
    </message>
    <message>
        <source>Use</source>
        <translation>사용</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>취소</translation>
    </message>
    <message>
        <source>Input level</source>
        <translation>입력 레벨</translation>
    </message>
    <message>
        <source>Call Phrases</source>
        <translation>호출어</translation>
    </message>
    <message>
        <source>Active: %1</source>
        <translation>적용 중: %1개</translation>
    </message>
    <message>
        <source>Listening for the first %1 of %2 phrases</source>
        <translation>호출 문구 %2개 중 처음 %1개 감지</translation>
    </message>
    <message>
        <source>Ann, James, Mr Smith</source>
        <translation>이름, 팀장님, 대표님</translation>
    </message>
    <message>
        <source>Add call phrase</source>
        <translation>호출어 추가</translation>
    </message>
    <message>
        <source>Remove call phrase</source>
        <translation>호출어 삭제</translation>
    </message>
    <message>
        <source>not heard</source>
        <translation>듣지 않음</translation>
    </message>
    <message>
        <source>Add a call phrase to start detection.</source>
        <translation>호출어를 추가하면 감지를 시작할 수 있습니다.</translation>
    </message>
    <message>
        <source>AirPods Mode</source>
        <translation>AirPods 모드</translation>
    </message>
    <message>
        <source>ANC</source>
        <translation>노캔</translation>
    </message>
    <message>
        <source>Transparency</source>
        <translation>주변음</translation>
    </message>
    <message>
        <source>Off</source>
        <comment>AirPods mode</comment>
        <translation>끔</translation>
    </message>
    <message>
        <source>Shortcut</source>
        <translation>단축키</translation>
    </message>
    <message>
        <source>Recording</source>
        <translation>입력 중</translation>
    </message>
    <message>
        <source>None</source>
        <translation>없음</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>기록</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>지우기</translation>
    </message>
    <message>
        <source>Add to GNOME Keyboard Shortcuts</source>
        <translation>GNOME 키보드 단축키에 추가</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>로그인 시 시작</translation>
    </message>
    <message>
        <source>Listen when Harkwell starts</source>
        <translation>시작할 때 듣기</translation>
    </message>
    <message>
        <source>listening for %1 call phrase</source>
        <translation>호출 문구 %1개 감지 중</translation>
    </message>
    <message>
        <source>listening for %1 call phrases</source>
        <translation>호출 문구 %1개 감지 중</translation>
    </message>
    <message>
        <source>not listening</source>
        <translation>감지 꺼짐</translation>
    </message>
    <message>
        <source>; AirPods in Transparency after a call</source>
        <translation> · 호출 후 주변음 모드</translation>
    </message>
    <message>
        <source>Open Harkwell</source>
        <translation>Harkwell 열기</translation>
    </message>
    <message>
        <source>This desktop shows no tray icon. Turn on GNOME&apos;s AppIndicator extension (gnome-shell-extension-appindicator) to get Harkwell&apos;s icon; until then, start Harkwell again to open this panel.</source>
        <translation>이 데스크톱에는 트레이 아이콘이 표시되지 않습니다. GNOME의 AppIndicator 확장(gnome-shell-extension-appindicator)을 켜면 Harkwell 아이콘이 나타납니다. 그때까지는 Harkwell을 다시 실행하면 이 패널이 열립니다.</translation>
    </message>
    <message>
        <source>This desktop shows no tray icon. A panel with a system tray (StatusNotifierItem) shows Harkwell&apos;s icon; until then, start Harkwell again to open this panel.</source>
        <translation>이 데스크톱에는 트레이 아이콘이 표시되지 않습니다. 시스템 트레이(StatusNotifierItem)가 있는 패널에 Harkwell 아이콘이 나타납니다. 그때까지는 Harkwell을 다시 실행하면 이 패널이 열립니다.</translation>
    </message>
    <message>
        <source>When someone calls</source>
        <translation>누군가 부르면</translation>
    </message>
    <message>
        <source>Pause media</source>
        <translation>미디어 일시정지</translation>
    </message>
    <message>
        <source>Lower media</source>
        <translation>미디어 소리 줄이기</translation>
    </message>
    <message>
        <source>Leave media</source>
        <translation>미디어 그대로 두기</translation>
    </message>
    <message>
        <source>Recent calls</source>
        <translation>최근 호출</translation>
    </message>
    <message>
        <source>%1 · %2: “%3”</source>
        <translation>%1 · %2: “%3”</translation>
    </message>
</context>
</TS>
