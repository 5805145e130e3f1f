#include "desktop/systemdesktop.h"
#include "warnings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The real desktop's save dialog, as Qt's own (widget) dialog shows it on this platform.
class TestDesktop final : public QObject {
    Q_OBJECT

    // What the user saw and answered while one save dialog was open.
    struct SaveSession {
        QString typeBox;
        QStringList nameFilters;
        QString question; // the text of a question shown on accepting, if any
        QString chosen;
    };

    // Opens the system desktop's save dialog, picks `fileName` in it and accepts; any question
    // that follows is answered "Yes".
    static SaveSession save(const QString &fileName, Desktop::SaveMode mode) {
        SaveSession session;
        QObject guard; // ends the scheduled steps with this call
        QTimer::singleShot(0, &guard, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return; // the test fails on the empty session
            if (auto *box = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo")))
                session.typeBox = box->currentText();
            session.nameFilters = dialog->nameFilters();
            QTimer::singleShot(0, &guard, [&] {
                if (auto *question = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                    session.question = question->text();
                    question->button(QMessageBox::Yes)->click();
                }
            });
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(fileName);
            static_cast<QDialog *>(dialog)->accept(); // as the Save button does
        });
        SystemDesktop desktop;
        session.chosen = desktop.saveFileName(nullptr, QStringLiteral("请选择要导出的路径"),
                                              QStringLiteral("文本文件 (*.txt)"), mode);
        return session;
    }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void saveDialog_data() {
        QTest::addColumn<bool>("append");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("asks");
        QTest::newRow("append to an existing file") << true << true << false;
        QTest::newRow("append to a new file") << true << false << false;
        QTest::newRow("replace an existing file") << false << true << true;
        QTest::newRow("replace: a new file") << false << false << false;
    }
    void saveDialog() {
        QFETCH(bool, append);
        QFETCH(bool, exists);
        QFETCH(bool, asks);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("codes.txt"));
        if (exists) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const SaveSession session =
            save(path, append ? Desktop::SaveMode::Append : Desktop::SaveMode::Replace);
        // The type's name alone; the pattern stays in the filter and still filters the list.
        QCOMPARE(session.typeBox, QStringLiteral("文本文件"));
        QCOMPARE(session.nameFilters, QStringList{QStringLiteral("文本文件 (*.txt)")});
        QCOMPARE(!session.question.isEmpty(), asks);
        if (asks)
            QVERIFY(session.question.contains(QStringLiteral("codes.txt")));
        QCOMPARE(session.chosen, path);
    }
};

QTEST_MAIN(TestDesktop)
#include "test_desktop.moc"
