#include "display/qt/display_loss.h"

#include <QString>
#include <QtGlobal>

#include <csetjmp>
#include <csignal>
#include <cstdio>

#include "core/signals.h"
#include "display/qt/qt_display.h"

namespace plat::qt {

namespace {

sigjmp_buf *displayLostJump = nullptr;
bool displayLost = false;
QtMessageHandler qtHandler = nullptr;

void onQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &text) {
    if (displayLostJump && text.startsWith(QLatin1String("The X11 connection broke"))) {
        std::fprintf(stderr, "noctil: %s\n", qPrintable(text));
        siglongjmp(*displayLostJump, 1);
    }
    if (qtHandler) qtHandler(type, context, text);
}

void watchForDisplayLoss() {
    static bool watching = false;
    if (watching) return;
    watching = true;
    qtHandler = qInstallMessageHandler(onQtMessage);
}

}  // namespace

void runGuarded(GuardedStep &step) {
    sigjmp_buf lost;
    if (sigsetjmp(lost, 0)) {
        displayLostJump = nullptr;
        displayLost = true;
        requestTermination(SIGHUP);
        return;
    }
    watchForDisplayLoss();
    displayLostJump = &lost;
    step.run();
    displayLostJump = nullptr;
}

bool displayLostNow() { return displayLost; }

}  // namespace plat::qt

namespace plat {

bool qtDisplayLost() { return qt::displayLostNow(); }

}  // namespace plat
