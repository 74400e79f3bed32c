// Prints what the program shows on the screen, as a screen reader reads it:
// the accessible objects of its windows (Qt's bridge to the accessibility
// bus), one line each, "WINDOW<TAB>ROLE<TAB>TEXT", a text's line ends shown
// as spaces. Only the windows whose title matches TITLE (a regular
// expression; every window when none is given). Run inside the guest by
// tests/vm/guest/program.sh (noctil_screen_text).
//
//   vm_screen_text BUS-ADDRESS [TITLE]
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QRegularExpression>

#include <cstdio>
#include <utility>
#include <vector>

namespace {

struct Object {
    QString service;
    QString path;
};

class Reader {
public:
    explicit Reader(const QString &address) : bus_(QDBusConnection::connectToBus(address, "a11y")) {}
    bool connected() const { return bus_.isConnected(); }

    std::vector<Object> children(const Object &o) const {
        std::vector<Object> found;
        const QDBusMessage reply = call(o, "org.a11y.atspi.Accessible", "GetChildren", {});
        if (reply.arguments().isEmpty()) return found;
        const auto list = reply.arguments().at(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            QString service;
            QDBusObjectPath path;
            list.beginStructure();
            list >> service >> path;
            list.endStructure();
            found.push_back({service, path.path()});
        }
        list.endArray();
        return found;
    }

    QString name(const Object &o) const {
        const QDBusMessage reply =
            call(o, "org.freedesktop.DBus.Properties", "Get", {QString("org.a11y.atspi.Accessible"), QString("Name")});
        if (reply.arguments().isEmpty()) return {};
        return reply.arguments().at(0).value<QDBusVariant>().variant().toString();
    }

    QString role(const Object &o) const {
        const QDBusMessage reply = call(o, "org.a11y.atspi.Accessible", "GetRoleName", {});
        return reply.arguments().isEmpty() ? QString() : reply.arguments().at(0).toString();
    }

private:
    QDBusMessage call(const Object &o, const char *interface, const char *method, QList<QVariant> args) const {
        QDBusMessage m = QDBusMessage::createMethodCall(o.service, o.path, interface, method);
        m.setArguments(std::move(args));
        return bus_.call(m, QDBus::Block, 10000);
    }

    QDBusConnection bus_;
};

void walk(const Reader &reader, const QString &window, const Object &o, int depth) {
    if (depth > 20) return;
    for (const Object &child : reader.children(o)) {
        const QString text = reader.name(child).simplified();
        if (!text.isEmpty())
            std::printf("%s\t%s\t%s\n", window.toUtf8().constData(), reader.role(child).toUtf8().constData(),
                        text.toUtf8().constData());
        walk(reader, window, child, depth + 1);
    }
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: vm_screen_text BUS-ADDRESS [TITLE]\n");
        return 2;
    }
    const Reader reader(QString::fromLocal8Bit(argv[1]));
    if (!reader.connected()) {
        std::fprintf(stderr, "vm_screen_text: cannot reach the accessibility bus %s\n", argv[1]);
        return 1;
    }
    const QRegularExpression title(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    for (const Object &application : reader.children({"org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root"})) {
        if (reader.name(application) != "noctil") continue;
        for (const Object &window : reader.children(application)) {
            const QString windowTitle = reader.name(window);
            if (title.match(windowTitle).hasMatch()) walk(reader, windowTitle, window, 0);
        }
    }
    return 0;
}
