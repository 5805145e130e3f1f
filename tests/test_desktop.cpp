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

// The real desktop's save dialog, as Qt's own (widget) dialog shows it.
class TestDesktop final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { failOnWarnings(); }

    void saveDialogOverAnExistingFile_data() {
        QTest::addColumn<bool>("append");
        QTest::newRow("appended to") << true;
        QTest::newRow("replaced") << false;
    }
    void saveDialogOverAnExistingFile() {
        QFETCH(bool, append);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("codes.txt"));
        QFile existing(path);
        QVERIFY(existing.open(QIODevice::WriteOnly));

        // Once the dialog is up: read its type box, pick the file, accept, and answer any
        // question that follows with Yes.
        QString typeBox, question;
        QObject steps; // the scheduled steps end with this test
        QTimer::singleShot(0, &steps, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            typeBox = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"))->currentText();
            QTimer::singleShot(0, &steps, [&] {
                if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                    question = box->text();
                    box->button(QMessageBox::Yes)->click();
                }
            });
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
            static_cast<QDialog *>(dialog)->accept(); // as the Save button does
        });
        SystemDesktop desktop;
        const QString chosen = desktop.saveFileName(
            nullptr, QStringLiteral("请选择要导出的路径"), QStringLiteral("文本文件 (*.txt)"),
            append ? Desktop::SaveMode::Append : Desktop::SaveMode::Replace);
        QCOMPARE(chosen, path);
        // The type's name alone; its pattern still filters the files shown.
        QCOMPARE(typeBox, QStringLiteral("文本文件"));
        // A file that is appended to is not replaced, so nothing asks about replacing it.
        QCOMPARE(question.isEmpty(), append);
        QVERIFY(append || question.contains(QStringLiteral("codes.txt")));
    }

    // Qt's own texts in Chinese whatever the system's language (the suite runs in C).
    void qtSpeaksChinese_data() {
        QTest::addColumn<QMessageBox::StandardButton>("button");
        QTest::addColumn<QString>("text");
        QTest::newRow("OK") << QMessageBox::Ok << u"确定"_qs;
        QTest::newRow("Cancel") << QMessageBox::Cancel << u"取消"_qs;
        QTest::newRow("Save") << QMessageBox::Save << u"保存"_qs;
        QTest::newRow("Yes") << QMessageBox::Yes << u"是(Y)"_qs;
    }
    void qtSpeaksChinese() {
        QFETCH(QMessageBox::StandardButton, button);
        QFETCH(QString, text);
        static const bool loaded = SystemDesktop::loadQtChinese(*qApp);
        QVERIFY2(loaded, "Qt's translations (qt6-translations-l10n) are not installed");
        QMessageBox box(QMessageBox::Information, u"t"_qs, u"t"_qs, button);
        QCOMPARE(box.button(button)->text().remove(u'&'), text);
    }
};

QTEST_MAIN(TestDesktop)
#include "test_desktop.moc"
