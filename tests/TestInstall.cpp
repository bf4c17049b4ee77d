// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
// The program installed the way desktop programs are installed: into a prefix owned by root,
// then started through its launcher by an unprivileged user with a home of its own.

#include "support/TestMirror.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Starts the launcher as nobody with a home of its own and the offscreen platform; true when
// the window is still open two seconds later.
bool StaysOpenAsNobody(const QString& Launcher) {
    QTemporaryDir Home;
    if (!support::GiveToNobody(Home.path()))
        return false;
    QProcess Program;
    QProcessEnvironment Environment;
    Environment.insert("HOME", Home.path());
    Environment.insert("PATH", "/usr/bin:/bin");
    Environment.insert("QT_QPA_PLATFORM", "offscreen");
    Program.setProcessEnvironment(Environment);
    Program.setProcessChannelMode(QProcess::ForwardedChannels);
    support::StartAsNobody(Program, Launcher, {});
    if (!Program.waitForStarted())
        return false;
    const bool StayedOpen = !Program.waitForFinished(2000);
    Program.terminate();
    if (!Program.waitForFinished(10000)) {
        Program.kill();
        Program.waitForFinished();
    }
    return StayedOpen;
}

QByteArray Run(const QString& Program, const QStringList& Arguments, int* ExitCode = nullptr) {
    QProcess Process;
    Process.setProcessChannelMode(QProcess::MergedChannels);
    Process.start(Program, Arguments);
    Process.waitForFinished(300000);
    if (ExitCode != nullptr)
        *ExitCode = Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
    return Process.readAll();
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void InstallsOneProgramFolderALauncherAnEntryAndIcons();
    void StartsThroughTheLauncherAsAnotherUser();
    void MakesValidAppStreamMetadata_data();
    void MakesValidAppStreamMetadata();
    void PackagesForDebian_data();
    void PackagesForDebian();
    void KeepsTheDatabasesWhereItsUserMayWrite();

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
    if (!support::CanRunAsNobody())
        QSKIP("needs root and setpriv to start the program as nobody");
    QVERIFY(StaysOpenAsNobody(FPrefix.path() + "/bin/harkavel"));
}

void TestInstall::MakesValidAppStreamMetadata_data() {
    QTest::addColumn<QStringList>("Addresses");
    QTest::newRow("as the build makes it") << QStringList();
    QTest::newRow("with a homepage and screenshots")
        << QStringList{"-DHARKAVEL_HOMEPAGE=https://harkavel.net/",
                       "-DHARKAVEL_SCREENSHOT_URL=https://harkavel.net/docs"};
}

// The build installs the metadata with the project's licences; the homepage and the screenshots
// are left out until they are published, and are valid once given.
void TestInstall::MakesValidAppStreamMetadata() {
    QFETCH(QStringList, Addresses);
    QTemporaryDir Out;
    QString Metainfo = FPrefix.path() + "/share/metainfo/net.harkavel.Harkavel.metainfo.xml";
    if (!Addresses.isEmpty()) {
        Metainfo = Out.path() + "/net.harkavel.Harkavel.metainfo.xml";
        int Exit = 0;
        const QByteArray Made =
            Run("cmake",
                QStringList{
                    "-DTEMPLATE=" HARKAVEL_SOURCE_DIR
                    "/packaging/net.harkavel.Harkavel.metainfo.xml.in",
                    "-DMETAINFO=" + Metainfo, "-DCHANGELOG=" HARKAVEL_SOURCE_DIR "/CHANGELOG.md",
                    "-DHARKAVEL_LICENSE=GPL-2.0-or-later", "-DHARKAVEL_METADATA_LICENSE=FSFAP"} +
                    Addresses + QStringList{"-P", HARKAVEL_SOURCE_DIR "/packaging/Metainfo.cmake"},
                &Exit);
        QVERIFY2(Exit == 0, Made.constData());
    }
    const QByteArray Text = support::ReadFile(Metainfo);
    QVERIFY(Text.contains("<project_license>GPL-2.0-or-later</project_license>"));
    QVERIFY(Text.contains("<metadata_license>FSFAP</metadata_license>"));
    QCOMPARE(Text.contains("<url type=\"homepage\">"), !Addresses.isEmpty());
    QVERIFY(Text.contains("<release version=\"" HARKAVEL_VERSION "\""));
    if (QStandardPaths::findExecutable("appstreamcli").isEmpty())
        QSKIP("appstreamcli is not installed");
    int Exit = 0;
    const QByteArray Findings = Run("appstreamcli", {"validate", "--no-net", Metainfo}, &Exit);
    QVERIFY2(Exit == 0, Findings.constData());
}

void TestInstall::PackagesForDebian_data() {
    QTest::addColumn<QString>("FullName");
    QTest::addColumn<QString>("Email");
    QTest::addColumn<QString>("Maintainer");
    QTest::newRow("the project's maintainer")
        << QString() << QString() << "Harkavel developers <maintainers@harkavel.net>";
    QTest::newRow("a maintainer named as for Debian's tools") << "Ann Example"
                                                              << "ann@example.org"
                                                              << "Ann Example <ann@example.org>";
}

// cpack makes the package with nothing given; lintian finds neither an error nor a warning; it
// is started from a throw-away root as nobody.
void TestInstall::PackagesForDebian() {
    QFETCH(QString, FullName);
    QFETCH(QString, Email);
    QFETCH(QString, Maintainer);
    QTemporaryDir Out, Root;
    QProcess Cpack;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.remove("DEBFULLNAME");
    Environment.remove("DEBEMAIL");
    if (!Email.isEmpty()) {
        Environment.insert("DEBFULLNAME", FullName);
        Environment.insert("DEBEMAIL", Email);
    }
    Cpack.setProcessEnvironment(Environment);
    Cpack.setProcessChannelMode(QProcess::MergedChannels);
    Cpack.start("cpack", {"--config", HARKAVEL_BINARY_DIR "/CPackConfig.cmake", "-B", Out.path()});
    QVERIFY(Cpack.waitForFinished(300000));
    QVERIFY2(Cpack.exitCode() == 0, Cpack.readAll().constData());
    const QString Package = Out.path() + "/harkavel_" HARKAVEL_VERSION "_amd64.deb";
    QVERIFY(QFileInfo::exists(Package));
    QCOMPARE(Run("dpkg-deb", {"-f", Package, "Maintainer"}).trimmed(), Maintainer.toUtf8());

    const QByteArray Contents = Run("dpkg-deb", {"-c", Package});
    for (const char* File :
         {"./usr/bin/harkavel", "./usr/lib/harkavel/Harkavel", "./usr/lib/harkavel/Harkavelde.mo",
          "./usr/lib/harkavel/Harkaveles.mo",
          "./usr/share/applications/net.harkavel.Harkavel.desktop",
          "./usr/share/metainfo/net.harkavel.Harkavel.metainfo.xml",
          "./usr/share/icons/hicolor/256x256/apps/net.harkavel.Harkavel.png",
          "./usr/share/man/man1/harkavel.1.gz", "./usr/share/doc/harkavel/copyright",
          "./usr/share/doc/harkavel/changelog.gz"})
        QVERIFY2(Contents.contains(File), File);
    // Read off the binary, not written by hand, but for the updater the program runs.
    const QByteArray Depends = Run("dpkg-deb", {"-f", Package, "Depends"});
    for (const char* Library : {"libclamav", "libcurl4", "libqt6widgets6", "clamav-freshclam"})
        QVERIFY2(Depends.contains(Library), Depends.constData());

    if (!QStandardPaths::findExecutable("lintian").isEmpty()) {
        const QByteArray Findings = Run("lintian", {Package});
        for (const char* Severity : {"E: ", "W: "})
            QVERIFY2(!Findings.contains("\n" + QByteArray(Severity)) &&
                         !Findings.startsWith(Severity),
                     Findings.constData());
    }

    int Exit = 0;
    Run("dpkg", {"-x", Package, Root.path()}, &Exit);
    QCOMPARE(Exit, 0);
    if (!support::CanRunAsNobody())
        QSKIP("needs root and setpriv to start the program as nobody");
    QFile::setPermissions(Root.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadOther | QFile::ExeOther);
    QVERIFY(StaysOpenAsNobody(Root.path() + "/usr/bin/harkavel"));
}

namespace {

// Runs the program's own scanner or updater code (the child programs ScanTree and UpdateOnce,
// given a program folder) as nobody: a test cannot drive the installed window from outside.
QStringList AsNobody(const QString& Tool, const QStringList& Arguments, const QString& Data) {
    QProcess Child;
    QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
    Environment.insert("XDG_DATA_HOME", Data);
    Child.setProcessEnvironment(Environment);
    support::StartAsNobody(Child, QCoreApplication::applicationDirPath() + "/" + Tool, Arguments);
    Child.waitForFinished(60000);
    return QString::fromUtf8(Child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

// The installed program folder belongs to root: its user's update and scans use the user's data
// folder. A copy of the program folder that its user may write keeps the databases beside the
// program, as the build folder does.
void TestInstall::KeepsTheDatabasesWhereItsUserMayWrite() {
    if (!support::CanRunAsNobody())
        QSKIP("needs root and setpriv to run as nobody");
    support::TNginxMirror Mirror;
    QVERIFY(Mirror.Started());
    QVERIFY(Mirror.Serve("daily.cvd", support::GenuineDatabase()));
    QTemporaryDir Tree;
    QFile::setPermissions(Tree.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadOther | QFile::ExeOther);
    const QString Virus = Tree.path() + "/eicar.com";
    QVERIFY(support::WriteFile(Virus, support::EicarBytes()));
    QFile::setPermissions(Virus, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    const QStringList Found = {"progress " + Virus,
                               "virus " + Virus + " " + support::EicarVirusName, "terminated"};

    const QString Installed = FPrefix.path() + "/lib/harkavel";
    QTemporaryDir Data, Copy;
    QVERIFY(support::GiveToNobody(Data.path()));
    AsNobody("UpdateOnce", {"--default", Mirror.Url(QString()), Installed}, Data.path());
    const QString UsersFolder = Data.path() + "/Harkavel/";
    QCOMPARE(support::ReadFile(UsersFolder + "daily.cvd"), support::GenuineDatabase());
    QVERIFY(!QFileInfo::exists(Installed + "/daily.cvd"));
    QVERIFY(support::WriteFile(UsersFolder + "harkavel-test.ndb", support::SampleDatabase()));
    QCOMPARE(AsNobody("ScanTree", {Installed, Virus}, Data.path()), Found);

    for (const QFileInfo& File : QDir(Installed).entryInfoList(QDir::Files))
        QVERIFY(QFile::copy(File.filePath(), Copy.path() + "/" + File.fileName()));
    QVERIFY(support::GiveToNobody(Copy.path()));
    QTemporaryDir OtherData;
    QVERIFY(support::GiveToNobody(OtherData.path()));
    AsNobody("UpdateOnce", {"--default", Mirror.Url(QString()), Copy.path()}, OtherData.path());
    QCOMPARE(support::ReadFile(Copy.path() + "/daily.cvd"), support::GenuineDatabase());
    QVERIFY(support::WriteFile(Copy.path() + "/harkavel-test.ndb", support::SampleDatabase()));
    QCOMPARE(AsNobody("ScanTree", {Copy.path(), Virus}, OtherData.path()), Found);
    QVERIFY(!QFileInfo::exists(OtherData.path() + "/Harkavel"));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "TestInstall.moc"
