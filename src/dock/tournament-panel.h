#pragma once

#include "uplink/uplink.h"

#include <QString>

#include <functional>

class Dock;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class QWidget;
struct Registration;

// Registration for a cup, the team, readiness. Built once into the layout the
// dock gives; redrawn by the dock's refresh.
class TournamentPanel {
public:
    TournamentPanel(Dock& dock, QVBoxLayout* layout);
    void refresh();

    // An action waits for the service's reply.
    bool busy() const { return busy_; }

    // The team code in what the player pasted: a bare code or an invite link
    // ("…/join/ab12?x=1" gives "AB12").
    static QString cleanTeamCode(const QString& pasted);
    // A team tag as the service takes it: 2 to 5 capital letters or digits.
    static bool validTag(const QString& tag);

private:
    void build(QVBoxLayout* layout);
    void buildTeamBoxes(QVBoxLayout* layout);
    void nameWidgets();
    void connectActions();
    void refreshInfo(const Registration& r, bool registered);
    void refreshHeadline(const Registration& r);
    void refreshReady(const Registration& r);
    void refreshInvite(const Registration& r, bool shown);

    // Sets busy, redraws and calls the service; the reply clears busy and
    // shows `failKey` with the error, or clears the notice.
    void run(const char* failKey, const std::function<void(Uplink::DoneFn)>& call);
    void registerCup();
    void unregisterCup();
    void createTeam();
    void joinTeam();
    void newCode();
    void toggleReady();

    Dock& dock_;
    bool busy_ = false;
    bool readyPending_ = false;
    QString lastCodeFilled_;

    QWidget* registerRow_ = nullptr;
    QLineEdit* codeEdit_ = nullptr;
    QPushButton* registerButton_ = nullptr;
    QLabel* ruleLabel_ = nullptr;
    QLabel* infoLabel_ = nullptr;
    QLabel* headlineLabel_ = nullptr;
    QLabel* teamLabel_ = nullptr;
    QLabel* checksLabel_ = nullptr;
    QPushButton* readyButton_ = nullptr;
    QWidget* inviteBox_ = nullptr;
    QLabel* inviteLabel_ = nullptr;
    QPushButton* copyCodeButton_ = nullptr;
    QPushButton* copyLinkButton_ = nullptr;
    QPushButton* newCodeButton_ = nullptr;
    QWidget* createBox_ = nullptr;
    QLineEdit* teamNameEdit_ = nullptr;
    QLineEdit* tagEdit_ = nullptr;
    QLineEdit* passwordEdit_ = nullptr;
    QPushButton* createButton_ = nullptr;
    QWidget* joinBox_ = nullptr;
    QLineEdit* joinEdit_ = nullptr;
    QPushButton* joinButton_ = nullptr;
    QPushButton* unregisterButton_ = nullptr;
};
