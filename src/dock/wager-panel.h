#pragma once

#include "uplink/uplink.h"

#include <QString>

#include <functional>

class Dock;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class QWidget;
struct WagerInfo;
struct WagerSide;

// A head-to-head wager: join or create, both sides, readiness, the result. Built once into the layout the
// dock gives; redrawn by the dock's refresh.
class WagerPanel {
public:
    WagerPanel(Dock& dock, QVBoxLayout* layout);
    void refresh();

    // An action waits for the service's reply.
    bool wagerBusy() const { return wagerBusy_; }
    // The player's own ready mark, from their row while the sides are drawn.
    bool myReady() const { return myReady_; }

private:
    struct Context;

    void build(QVBoxLayout* layout);
    void buildJoinCreate(QVBoxLayout* layout);
    void buildButtons(QVBoxLayout* layout);
    void nameWidgets();
    void connectActions();
    void refreshIntro(bool linked, bool hasWager);
    QString headline(const Context& c) const;
    void refreshCodes(const Context& c);
    QString sides(const Context& c);
    QString side(const Context& c, const WagerSide& s, const QString& key);
    void refreshButtons(const Context& c);
    QString result(const Context& c) const;

    void run(const char* failKey, const std::function<void(Uplink::DoneFn)>& call);
    bool mine(const WagerInfo& w) const;
    void join();
    void create();
    void toggleReady();
    void leave();
    void confirmThen(const char* title, const char* question, const char* failKey,
                     void (Uplink::*call)(const QString&, Uplink::DoneFn));

    Dock& dock_;
    bool wagerBusy_ = false;
    bool myReady_ = false;
    QString codes_[2];

    QLabel* introLabel_ = nullptr;
    QWidget* joinCreate_ = nullptr;
    QLineEdit* codeEdit_ = nullptr;
    QPushButton* joinButton_ = nullptr;
    QComboBox* formatBox_ = nullptr;
    QComboBox* lengthBox_ = nullptr;
    QPushButton* createButton_ = nullptr;
    QLabel* headlineLabel_ = nullptr;
    QLabel* resultLabel_ = nullptr;
    QWidget* codeRows_[2] = {nullptr, nullptr};
    QLabel* codeLabels_[2] = {nullptr, nullptr};
    QPushButton* copyButtons_[2] = {nullptr, nullptr};
    QLabel* sidesLabel_ = nullptr;
    QLabel* checksLabel_ = nullptr;
    QPushButton* readyButton_ = nullptr;
    QLabel* ruleLabel_ = nullptr;
    QPushButton* leaveButton_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* restartButton_ = nullptr;
    QPushButton* endButton_ = nullptr;
    QPushButton* newButton_ = nullptr;
    QLabel* hintLabel_ = nullptr;
};
