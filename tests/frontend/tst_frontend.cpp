#include <QLoggingCategory>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>

#include "Diagnostics.h"

namespace {
Q_LOGGING_CATEGORY(lcLibrary, "kalvessa.library")
Q_LOGGING_CATEGORY(lcOther, "other.library")
}  // namespace

class FrontendTest : public QObject
{
    Q_OBJECT

private slots:
    // The libraries' lines go where the program says, as bare text; debug lines, once switched
    // on, name their category; other categories are left to Qt.
    void diagnosticsGoWhereTheProgramSays()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        std::FILE *stream = std::fopen(qPrintable(file.fileName()), "w");
        QVERIFY(stream);
        QLoggingCategory::setFilterRules(QStringLiteral("kalvessa.library.debug=true"));
        diagnostics::writeTo(stream);
        qCWarning(lcLibrary, "Cannot open interface : %s", "kvtap0: no such device");
        qCDebug(lcLibrary) << "no answer";
        QTest::ignoreMessage(QtWarningMsg, "not ours");
        qCWarning(lcOther) << "not ours";
        diagnostics::writeTo(nullptr);
        std::fclose(stream);
        QCOMPARE(file.readAll(),
                 QByteArray("Cannot open interface : kvtap0: no such device\n"
                            "kalvessa.library: no answer\n"));
    }
};

QTEST_GUILESS_MAIN(FrontendTest)
#include "tst_frontend.moc"
