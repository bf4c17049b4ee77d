// The program installed the way desktop programs are installed: into a prefix owned by root,
// then started through its launcher by an unprivileged user with a home of its own.

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <pwd.h>
#include <unistd.h>

class TestInstall : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void InstallsOneProgramFolderALauncherAnEntryAndIcons();
    void StartsThroughTheLauncherAsAnotherUser();
    void MakesValidAppStreamMetadataOnceItsFactsAreGiven();

private:
    QTemporaryDir FPrefix;
};

void TestInstall::initTestCase() {
    QProcess Install;
    Install.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Install.start("cmake", {"--install", HARKAVEL_BINARY_DIR, "--prefix", FPrefix.path()});
    QVERIFY(Install.waitForFinished(120000));
    QCOMPARE(Install.exitCode(), 0);
    QFile::setPermissions(FPrefix.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadGroup | QFile::ExeGroup |
                                              QFile::ReadOther | QFile::ExeOther);
}

void TestInstall::InstallsOneProgramFolderALauncherAnEntryAndIcons() {
    const QString P = FPrefix.path();
    for (const char* File :
         {"/lib/harkavel/Harkavel", "/lib/harkavel/Harkavelde.mo", "/lib/harkavel/Harkaveles.mo",
          "/bin/harkavel", "/share/applications/net.harkavel.Harkavel.desktop"})
        QVERIFY2(QFileInfo::exists(P + File), File);
    QVERIFY(QFileInfo(P + "/bin/harkavel").isExecutable());
    for (int Size : {16, 32, 48, 64, 128, 256}) {
        const QString Icon = P + QStringLiteral("/share/icons/hicolor/%1x%1/apps/"
                                                "net.harkavel.Harkavel.png")
                                     .arg(Size);
        QCOMPARE(QImage(Icon).size(), QSize(Size, Size));
    }
    if (QStandardPaths::findExecutable("desktop-file-validate").isEmpty())
        QSKIP("desktop-file-validate is not installed");
    QProcess Validate;
    Validate.setProcessChannelMode(QProcess::MergedChannels);
    Validate.start("desktop-file-validate",
                   {P + "/share/applications/net.harkavel.Harkavel.desktop"});
    QVERIFY(Validate.waitForFinished(30000));
    QVERIFY2(Validate.exitCode() == 0 && Validate.readAll().trimmed().isEmpty(), "not valid");
}

// The window opens and stays open: the program runs from the root-owned folder, with its
// settings and databases in the user's own folders.
void TestInstall::StartsThroughTheLauncherAsAnotherUser() {
    const passwd* Nobody = getpwnam("nobody");
    if (geteuid() != 0 || Nobody == nullptr || QStandardPaths::findExecutable("setpriv").isEmpty())
        QSKIP("needs root and setpriv to start the program as nobody");
    QTemporaryDir Home;
    QVERIFY(chown(QFile::encodeName(Home.path()).constData(), Nobody->pw_uid, Nobody->pw_gid) == 0);
    QProcess Program;
    QProcessEnvironment Environment;
    Environment.insert("HOME", Home.path());
    Environment.insert("PATH", "/usr/bin:/bin");
    Environment.insert("QT_QPA_PLATFORM", "offscreen");
    Program.setProcessEnvironment(Environment);
    Program.setProcessChannelMode(QProcess::ForwardedChannels);
    Program.start("setpriv", {"--reuid=" + QString::number(Nobody->pw_uid),
                              "--regid=" + QString::number(Nobody->pw_gid), "--clear-groups",
                              FPrefix.path() + "/bin/harkavel"});
    QVERIFY(Program.waitForStarted());
    QVERIFY2(!Program.waitForFinished(2000), "the program ended on its own");
    Program.terminate();
    Program.waitForFinished(10000);
    if (Program.state() != QProcess::NotRunning) {
        Program.kill();
        Program.waitForFinished();
    }
}

// The licence and the public addresses are not decided yet, so the build makes no metadata. The
// template is checked here with stand-ins in their place (an example.org address and a
// LicenseRef- licence, which no real release would use).
void TestInstall::MakesValidAppStreamMetadataOnceItsFactsAreGiven() {
    QTemporaryDir Out;
    const QString Metainfo = Out.path() + "/net.harkavel.Harkavel.metainfo.xml";
    const QStringList Common = {"-DIN=" HARKAVEL_SOURCE_DIR
                                "/packaging/net.harkavel.Harkavel.metainfo.xml.in",
                                "-DOUT=" + Metainfo, "-DPROJECT_VERSION=0.1"};
    const QStringList Facts = {"-DHARKAVEL_LICENSE=LicenseRef-stand-in",
                               "-DHARKAVEL_METADATA_LICENSE=FSFAP",
                               "-DHARKAVEL_HOMEPAGE=https://harkavel.example.org/",
                               "-DHARKAVEL_SCREENSHOT_URL=https://harkavel.example.org/docs"};
    const QString Script = HARKAVEL_SOURCE_DIR "/packaging/Metainfo.cmake";
    QProcess Make;
    Make.setProcessChannelMode(QProcess::MergedChannels);
    Make.start("cmake", Common + Facts.mid(1) + QStringList{"-P", Script});
    QVERIFY(Make.waitForFinished(30000));
    QVERIFY(Make.exitCode() != 0); // a missing fact stops it
    QVERIFY(Make.readAll().contains("HARKAVEL_LICENSE is not set"));
    Make.start("cmake", Common + Facts + QStringList{"-P", Script});
    QVERIFY(Make.waitForFinished(30000));
    QCOMPARE(Make.exitCode(), 0);

    if (QStandardPaths::findExecutable("appstreamcli").isEmpty())
        QSKIP("appstreamcli is not installed");
    QProcess Validate;
    Validate.setProcessChannelMode(QProcess::MergedChannels);
    Validate.start("appstreamcli", {"validate", "--no-net", Metainfo});
    QVERIFY(Validate.waitForFinished(30000));
    QVERIFY2(Validate.exitCode() == 0, Validate.readAll().constData());
}

QTEST_GUILESS_MAIN(TestInstall)
#include "TestInstall.moc"
