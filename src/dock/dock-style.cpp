#include "dock-style.h"

namespace {

const char* const kStyle = R"(
#corvexTourneyDock { background: #0E1215; }
#corvexTourneyDock QLabel { color: #E8E5DD; font-size: 12px; }
#corvexTourneyDock QLabel[role="title"] {
    font-family: "Saira Condensed", "Roboto Condensed"; font-weight: 700; font-size: 17px;
    letter-spacing: 1px; color: #E8E5DD;
}
#corvexTourneyDock QLabel[role="muted"] { color: #9AA3AA; font-size: 11px; }
#corvexTourneyDock QLabel[role="pill"] {
    font-family: "IBM Plex Mono"; font-weight: 600; font-size: 11px; padding: 2px 8px;
    border-radius: 9px; background: #242B31; color: #E8E5DD;
}
#corvexTourneyDock QLabel[role="score"] {
    font-family: "Saira Condensed", "Roboto Condensed"; font-weight: 700; font-size: 34px;
}
#corvexTourneyDock QLabel[role="code"] {
    font-family: "IBM Plex Mono"; font-weight: 600; font-size: 20px; color: #E0B24E; padding: 4px 0px;
}
#corvexTourneyDock QLabel[role="lock"] { color: #E0B24E; font-size: 11px; font-weight: 600; }
#corvexTourneyDock QFrame[role="box"] {
    background: #14181C; border: 1px solid #242B31; border-radius: 8px;
}
#corvexTourneyDock QFrame[role="box"][state="ok"] { border: 1px solid #4E9A5A; background: #121A15; }
#corvexTourneyDock QLabel[role="alarm"] {
    background: #7A1F1A; color: white; border: 3px solid #FF4D40; border-radius: 8px; padding: 12px;
    font-family: "Saira Condensed", "Roboto Condensed"; font-weight: 700; font-size: 22px;
}
#corvexTourneyDock QLabel[role="alarm"][flash="on"] { background: #E0281C; border: 3px solid white; }
#corvexTourneyDock QPushButton[role="alarm"] {
    background: white; color: #7A1F1A; border: 2px solid #FF4D40; font-weight: 700; font-size: 13px;
    padding: 7px 12px;
}
#corvexTourneyDock QLabel[role="ok"] {
    background: #1F4A2A; color: #D8F5DD; border: 1px solid #5FB36B; border-radius: 6px; padding: 7px 10px;
    font-weight: 600; font-size: 12px;
}
#corvexTourneyDock QPushButton {
    background: #12171B; color: #E8E5DD; border: 1px solid #2E363D; border-radius: 6px; padding: 5px 10px;
    font-weight: 600;
}
#corvexTourneyDock QPushButton:hover { border: 1px solid #8C9A5B; }
#corvexTourneyDock QPushButton:disabled { color: #6F7880; }
#corvexTourneyDock QPushButton[role="primary"] { background: #8C9A5B; color: #0B0E10; border: 1px solid #A9B86B; }
#corvexTourneyDock QComboBox {
    background: #12171B; color: #E8E5DD; border: 1px solid #2E363D; border-radius: 6px; padding: 3px 6px;
}
#corvexTourneyDock QComboBox:disabled { color: #9AA3AA; border: 1px solid #C99A3B; }
#corvexTourneyDock QLineEdit {
    background: #12171B; color: #E0B24E; border: 1px solid #2E363D; border-radius: 6px; padding: 4px 6px;
    font-family: "IBM Plex Mono"; font-weight: 600;
}
#corvexTourneyDock QLineEdit:focus { border: 1px solid #8C9A5B; }
#corvexTourneyDock QLabel[role="wcode"] {
    font-family: "IBM Plex Mono"; font-weight: 600; font-size: 15px; color: #E0B24E;
}
#corvexTourneyDock QLabel[role="result"] {
    font-family: "Saira Condensed", "Roboto Condensed"; font-weight: 700; font-size: 30px;
}
#corvexTourneyDock QPushButton[role="seg"] {
    background: #12171B; color: #9AA3AA; border: 1px solid #2E363D;
    font-family: "Saira Condensed", "Roboto Condensed"; font-weight: 700; font-size: 15px;
    letter-spacing: 1px; padding: 6px 10px;
}
#corvexTourneyDock QPushButton[role="seg"][side="l"] {
    border-top-right-radius: 0px; border-bottom-right-radius: 0px;
}
#corvexTourneyDock QPushButton[role="seg"][side="r"] {
    border-top-left-radius: 0px; border-bottom-left-radius: 0px; border-left: none;
}
#corvexTourneyDock QPushButton[role="seg"][side="m"] { border-radius: 0px; border-left: none; }
#corvexTourneyDock QPushButton[role="seg"]:checked {
    background: #8C9A5B; color: #0B0E10; border: 1px solid #A9B86B;
}
#corvexTourneyDock QPushButton[role="take"] {
    background: #B3261E; color: white; border: 1px solid #FF4D40;
    font-family: "Saira Condensed", "Roboto Condensed"; font-weight: 700; font-size: 22px;
    padding: 10px 12px; letter-spacing: 2px;
}
#corvexTourneyDock QLabel[role="toast"] {
    background: #3A2A0E; color: #F5D38A; border: 1px solid #E0B24E; border-radius: 6px; padding: 6px 8px;
    font-weight: 700;
}
#corvexTourneyDock QFrame[role="sug"] { background: #1E1A10; border: 2px solid #6B5320; border-radius: 8px; }
#corvexTourneyDock QFrame[role="sug"][flash="on"] { background: #4A3610; border: 2px solid #E0B24E; }
#corvexTourneyDock QLabel[role="sugkind"] {
    font-family: "Saira Condensed", "Roboto Condensed"; font-weight: 700; font-size: 20px; color: #E0B24E;
    letter-spacing: 1px;
}
#corvexTourneyDock QPushButton[role="ready"] {
    background: #8C9A5B; color: #0B0E10; border: 1px solid #A9B86B;
    font-family: "Saira Condensed", "Roboto Condensed"; font-weight: 700; font-size: 18px; padding: 9px 12px;
}
#corvexTourneyDock QPushButton[role="ready"][state="on"] {
    background: #1F4A2A; color: #D8F5DD; border: 1px solid #5FB36B;
}
#corvexTourneyDock QLabel[role="update"] {
    background: #3A2A0E; color: #F5D38A; border: 1px solid #E0B24E; border-radius: 6px; padding: 6px 8px;
    font-weight: 600;
}
#corvexTourneyDock QLabel[role="update"][state="required"] {
    background: #4A1512; color: #FFD9D5; border: 1px solid #D0645A;
}
#corvexTourneyDock QLabel[role="onair"] {
    font-family: "Saira Condensed", "Roboto Condensed"; font-weight: 700; font-size: 16px;
    letter-spacing: 1px; border-radius: 6px; padding: 5px 10px;
}
#corvexTourneyDock QLabel[role="onair"][state="live"] {
    background: #B3261E; color: white; border: 1px solid #FF4D40;
}
#corvexTourneyDock QLabel[role="onair"][state="replay"] {
    background: #3A2A0E; color: #F5D38A; border: 1px solid #E0B24E;
}
#corvexTourneyDock QLabel[role="onair"][state="cued"] {
    background: #14181C; color: #E8E5DD; border: 1px solid #2E363D;
}
)";

} // namespace

QString dockStyleSheet() {
    return QString::fromLatin1(kStyle);
}
