// A second start with a movie hands the movie to the running instance instead of
// exiting silently: the running instance listens on a local socket named from the
// instance GUID in the runtime folder, the second start sends the movie's full path.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QLocalServer;

namespace qm::app {

// The socket beside the instance lock: InstanceLockPath() + ".handoff".
QString InstanceHandoffPath();

// The movie named on the command line, as a full path; empty when none. Options
// ("-x", "--x") and the values of the toolkit's own options ("-platform NAME",
// "-style NAME", ...) are skipped; "--" ends the options; a "file://" URL is
// taken as its local file. `arguments` starts with the program's name.
QString MovieArgument(const QStringList& arguments);

// The running instance's end. Each connection carries one path in UTF-8 ended by
// "\n"; a message longer than kMaxHandoffBytes is dropped.
class InstanceHandoffServer {
public:
    static constexpr int kMaxHandoffBytes = 64 * 1024;

    explicit InstanceHandoffServer(std::function<void(const QString&)> received,
                                   QString path = InstanceHandoffPath());
    ~InstanceHandoffServer();
    InstanceHandoffServer(const InstanceHandoffServer&) = delete;
    InstanceHandoffServer& operator=(const InstanceHandoffServer&) = delete;

    // Starts listening; the caller holds the instance lock, so a socket file
    // left by an instance that died is stale and is replaced. Needs the
    // application object. False when the socket cannot be made.
    bool Listen();
    QString errorString() const;

private:
    std::function<void(const QString&)> received_;
    QString path_;
    std::unique_ptr<QLocalServer> server_;
};

// The second start's end: sends `moviePath` and waits until it is written.
// The running instance may still be starting, so connecting is retried until
// `timeoutMs` has passed. False when nobody took the path.
bool HandOffFile(const QString& moviePath, const QString& path = InstanceHandoffPath(),
                 int timeoutMs = 5000);

}  // namespace qm::app
