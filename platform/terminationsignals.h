#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the event loop, so the program ends the way a
// click on the close box ends it (the window placement is kept). Install once; the handler itself only
// writes one byte to a pipe, which is all a signal handler may safely do.
class TerminationSignals final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TerminationSignals)

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    void terminationRequested();

private:
    void readSignal();
    QSocketNotifier *notifier_ = nullptr;
};
