#include "version.h"

#include <QProcess>
#include <QTest>

// The window program answers --help and --version, and nothing else of a command line, without
// a display: as a shell or a package tool runs it on a server.
class TestCommandLine final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void answersWithoutADisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("output");
        const QString usage = u"用法 Usage: giftvane [--background | -h | --help | -v | --version]\n"_qs;
        const QString version = u"giftvane " GIFTVANE_VERSION "\n"_qs;
        QTest::newRow("--help") << QStringList{u"--help"_qs} << usage;
        QTest::newRow("-v") << QStringList{u"-v"_qs} << version;
        QTest::newRow("after Qt's own options")
            << QStringList{u"-style"_qs, u"fusion"_qs, u"--version"_qs} << version;
    }
    void answersWithoutADisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, output);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString &name : {u"DISPLAY"_qs, u"WAYLAND_DISPLAY"_qs, u"QT_QPA_PLATFORM"_qs})
            environment.remove(name);
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(GIFTVANE_PROGRAM), arguments);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit); // no abort for want of a display
        QCOMPARE(program.exitCode(), 0);
        const QString printed = QString::fromUtf8(program.readAllStandardOutput());
        QVERIFY2(printed.startsWith(output), qPrintable(printed));
        QCOMPARE(printed.size() > output.size(), output.contains(u"Usage"));
        QCOMPARE(program.readAllStandardError(), QByteArray());
    }
};

QTEST_APPLESS_MAIN(TestCommandLine)
#include "test_commandline.moc"
