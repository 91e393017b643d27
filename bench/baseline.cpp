// The reference for Kestrim's start-up time and memory: the least a Qt Widgets program with the same kind
// of window needs. It reads no settings, plays no sound and runs no timer. SPACE puts a count in its
// caption, so the accuracy run can time a key's way into a Qt program and out to the caption.
#include <QApplication>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QToolBar>

namespace {

class BaselineWindow : public QMainWindow
{
protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Space)
            setWindowTitle(QStringLiteral("KestrimBaseline - %1").arg(++presses_));
    }

private:
    int presses_ = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KestrimBaseline"));

    BaselineWindow window;
    window.setWindowTitle(QStringLiteral("KestrimBaseline"));
    QToolBar *toolbar = window.addToolBar(QStringLiteral("Toolbar"));
    for (const char *name : {"Start", "Stop", "Reset", "Option", "Sound", "Help", "Exit"})
        toolbar->addAction(QLatin1String(name));
    window.statusBar()->showMessage(QStringLiteral("Ready."));

    auto *label = new QLabel(QStringLiteral("00"), &window);
    QFont digits(QStringLiteral("Arial"));
    digits.setPointSize(72);
    digits.setBold(true);
    label->setFont(digits);
    label->setAlignment(Qt::AlignCenter);
    window.setCentralWidget(label);

    window.resize(499, 366);
    window.show();
    return app.exec();
}
