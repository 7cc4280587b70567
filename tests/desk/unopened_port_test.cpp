// Both windows (portdesk's and hubpanel's) on ports they may not open: a
// search names each such candidate once on standard error; a failed
// operation puts the port and the reason behind its alert and on standard
// output, and names it on standard error. Open failures are injected.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <desk/view_controller.h>

#include "open_denial.h"
#include "window_rig.h"

namespace {

constexpr const char* kDenied =
    ": Permission denied (join the group 'dialout': sudo usermod -aG dialout $USER, then log in again)";
constexpr const char* kBusy = ": Device or resource busy";

// What is written to a standard descriptor while this lives (until text()).
class Captured {
public:
    explicit Captured(int fd) : fd_(fd), file_(std::tmpfile()) {
        std::fflush(nullptr);
        saved_ = ::dup(fd);
        ::dup2(::fileno(file_), fd);
    }
    ~Captured() {
        restore();
        std::fclose(file_);
    }
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;

    // The lines that begin with `prefix` (Qt may warn on the same stream).
    QStringList lines(const QString& prefix = {}) {
        restore();
        std::rewind(file_);
        QByteArray all;
        char buf[512];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file_)) > 0;) all.append(buf, qsizetype(n));
        QStringList kept;
        for (const QString& line : QString::fromUtf8(all).split('\n', Qt::SkipEmptyParts))
            if (line.startsWith(prefix)) kept.push_back(line);
        return kept;
    }

private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(nullptr);
        ::dup2(saved_, fd_);
        ::close(saved_);
        saved_ = -1;
    }
    int fd_;
    std::FILE* file_;
    int saved_ = -1;
};

QString told(const std::string& path, const char* reason) {
    return QCoreApplication::applicationName() + ": " + QString::fromStdString(path) + reason;
}

QString programPrefix() { return QCoreApplication::applicationName() + ": "; }

template <class Rig>
void searchNamesEachDeniedCandidateOnce() {
    Rig rig;
    sim::VirtualHub& denied = rig.addHub(hubWith(4, 0));
    const std::string deniedPort = rig.listHub(denied);
    rig.listHub(rig.addHub(hubWith(4, 0)));
    const hubtest::OpenDenial denial({deniedPort}, EACCES);
    Captured err(STDERR_FILENO);
    rig.searchAll();
    QCOMPARE(err.lines(programPrefix()), QStringList{told(deniedPort, kDenied)});
    QCOMPARE(rig.status(), QStringLiteral("1 USB Hub(s) Found"));
    QCOMPARE(denial.attempts(deniedPort), 1);
    QVERIFY(denied.received().empty());
}

// A click on a switch and a restore, on a hub another program took after
// the search.
template <class Rig>
void operationsTellWhyThePortWouldNotOpen() {
    Rig rig;
    sim::VirtualHub& hub = rig.addHub(hubWith(4, 0));
    const std::string port = rig.listHub(hub);
    rig.searchAll();
    hub.clearReceived();
    const hubtest::OpenDenial denial({port}, EBUSY);
    const struct {
        std::function<void()> act;
        std::string detail;
    } cases[] = {
        {[&] { rig.child("switch1")->click(); },
         port + ": port states could not be read: Open Port Error! Device or resource busy"},
        {[&] {
             rig.child("ResetDefault")->click();
             rig.confirm();
         },
         port + ": Open Port Error! Device or resource busy"},
    };
    for (const auto& c : cases) {
        rig.alerts.take();
        Captured out(STDOUT_FILENO), err(STDERR_FILENO);
        c.act();
        // Taken before comparing: the test's own report goes to standard output.
        const QStringList printed = out.lines(QString::fromStdString(port));
        const QStringList toldLines = err.lines(programPrefix());
        QCOMPARE(rig.alerts.take(), (std::vector<Alert>{{"System Message", "State Error"}}));
        QCOMPARE(rig.alerts.details.back(), QString::fromStdString(c.detail));
        QCOMPARE(printed, QStringList{QString::fromStdString(c.detail)});
        QCOMPARE(toldLines, QStringList{told(port, kBusy)});
    }
    QVERIFY(hub.received().empty());
}

}  // namespace

class UnopenedPortTest : public QObject {
    Q_OBJECT
private slots:
    void deskSearchNamesEachDeniedCandidateOnce() {
        searchNamesEachDeniedCandidateOnce<WindowRigFor<desk::ViewController>>();
    }
    void panelSearchNamesEachDeniedCandidateOnce() { searchNamesEachDeniedCandidateOnce<WindowRig>(); }

    void panelTypedSearchNamesADeniedTerminal() {
        WindowRig rig;
        sim::VirtualHub& hub = rig.addHub(hubWith(4, 0));
        const hubtest::OpenDenial denial({hub.path()}, EACCES);
        Captured err(STDERR_FILENO);
        rig.searchFor(hub.path());
        QCOMPARE(err.lines(programPrefix()), QStringList{told(hub.path(), kDenied)});
        QCOMPARE(rig.status(), QStringLiteral("0 USB Hub(s) Found"));
    }

    // The typed path is searched although the user may not open it, so the
    // search can say why it found nothing there. A child process as user 65534
    // meets the real refusal.
    void deniedTerminalStillCountsForTheTypedSearch() {
        if (::geteuid() != 0) QSKIP("switching to another user needs root");
        sim::VirtualHub hub;
        QCOMPARE(::chmod(hub.path().c_str(), 0600), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            const bool nobody = ::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                                ::setresuid(65534, 65534, 65534) == 0;
            const bool refused = ::access(hub.path().c_str(), R_OK | W_OK) != 0;
            ::_exit(!nobody || !refused ? 2 : panel::isTerminalDevice(hub.path()) ? 0 : 1);
        }
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QCOMPARE(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
        QVERIFY(!panel::isTerminalDevice("/dev/pts/no-such-port"));
        QVERIFY(!panel::isTerminalDevice("/dev/null"));  // opens, but no terminal
    }

    void deskOperationsTellWhyThePortWouldNotOpen() {
        operationsTellWhyThePortWouldNotOpen<WindowRigFor<desk::ViewController>>();
    }
    void panelOperationsTellWhyThePortWouldNotOpen() { operationsTellWhyThePortWouldNotOpen<WindowRig>(); }
};

QTEST_MAIN(UnopenedPortTest)
#include "unopened_port_test.moc"
