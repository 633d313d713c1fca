// Attacks on an update that root runs, as a hostile bundle author or another
// local user would try them, through the real Orvane, zuasvchost and
// plug-in. The other user is "nobody": the parts that need one run only when
// the suite runs as root.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "CycleSupport.h"
#include "TestEnvironment.h"

using namespace e2e;
using plimotest::fileExists;
using plimotest::readFile;
using plimotest::testDir;
using plimotest::writeFile;

namespace {

bool runAsRoot() { return ::geteuid() == 0; }

// The command line that runs argv as nobody.
std::vector<std::string> asNobody(const std::vector<std::string>& argv) {
    std::vector<std::string> command{"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
    command.insert(command.end(), argv.begin(), argv.end());
    return command;
}

// Gives a file or folder to nobody; the test directory becomes passable.
void giveToNobody(const std::string& path) {
    ASSERT_EQ(::chmod(testDir().c_str(), 0711), 0);
    const passwd* user = ::getpwnam("nobody");
    const group* users = ::getgrnam("nogroup");
    ASSERT_TRUE(user != nullptr && users != nullptr);
    ASSERT_EQ(::chown(path.c_str(), user->pw_uid, users->gr_gid), 0);
}

void openssl(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{PLIMO_OPENSSL};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const plimotest::RunResult r = plimotest::runProgram(argv, {}, testDir());
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

// A certificate authority in the trust store and a signer it issued.
void makeSigner() {
    const std::vector<std::string> key{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"};
    std::filesystem::create_directories(testDir() + "/ca");
    auto request = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin() + 1, key.begin(), key.end());
        openssl(arguments);
    };
    request({"req", "-x509", "-keyout", "ca/ca.key", "-out", "ca/ca.pem", "-subj", "/CN=Test CA", "-days", "2"});
    request({"req", "-keyout", "ca/signer.key", "-out", "ca/signer.csr", "-subj", "/CN=Signer"});
    openssl({"x509", "-req", "-in", "ca/signer.csr", "-CA", "ca/ca.pem", "-CAkey", "ca/ca.key", "-days", "2", "-out",
             "ca/signer.pem"});
    writeFile(testDir() + "/trust.d/ca.pem", readFile(testDir() + "/ca/ca.pem"));
}

// <file>.p7s: a detached signature over the file's bytes.
void sign(const std::string& file) {
    openssl({"cms", "-sign", "-binary", "-outform", "DER", "-in", file, "-signer", "ca/signer.pem", "-inkey",
             "ca/signer.key", "-out", file + ".p7s"});
}

std::string sha256Of(const std::string& file) {
    const auto r = plimotest::runProgram({"/usr/bin/sha256sum", file});
    return r.out.substr(0, 64);
}

std::chrono::steady_clock::duration timed(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::steady_clock::now() - start;
}

std::string helper(const std::string& name) { return std::string(PLIMO_TEST_HELPER_DIR) + "/" + name; }

} // namespace

TEST(AttackTest, PackageRewrittenInPlaceAfterItsCheckRunsTheVerifiedBytes) {
    if (!runAsRoot()) GTEST_SKIP() << "the attacker runs as nobody, which needs root";
    // The package lies where the relocation file says: in a folder of
    // another user, who rewrites it in place (same inode) while the update
    // reads it for its start. The script also reads itself again by $0, as
    // self-extracting installers do.
    const std::string theirs = testDir() + "/theirs";
    std::filesystem::create_directories(theirs);
    giveToNobody(theirs);
    const std::string record = testDir() + "/record";
    const std::string done = theirs + "/done";
    const std::string evil = "echo evil >> '" + record + "'";
    const std::string head = "#!/bin/sh\n";
    std::string script = head + "#" + std::string(evil.size(), ' ') + "\n" +
                         "for a; do case \"$a\" in /l=*) echo ran > \"${a#/l=}\";; esac; done\n"
                         "i=0; while [ ! -e '" +
                         done +
                         "' ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done\n"
                         "sed -n 's/^#PAYLOAD //p' \"$0\" | sh\n"
                         "echo \"${0##*/}\" >> '" +
                         record + "'\nexit 0\n";
    const std::string payload = "#PAYLOAD echo good >> '" + record + "'\n";
    const std::size_t payloadWord = script.size() + std::string("#PAYLOAD echo ").size();
    script += payload;
    // Longer than one read: the rewrite lands while the reader goes on.
    for (int i = 0; i < 2048; ++i) script += "#" + std::string(1022, '-') + "\n";
    const std::string package = writeFile(theirs + "/pkg.sh", script, true);
    giveToNobody(package);

    const std::string dir = testDir() + "/bundle";
    writeFile(dir + "/bundle.xml", "<?xml version=\"1.0\"?>\n<SoftwareBundle><Contents><Package releaseID=\"P1\" "
                                   "path=\"pkg.sh\" sha256=\"" +
                                       sha256Of(package) + "\"/></Contents></SoftwareBundle>\n");
    writeFile(dir + "/relocation.xml", "<QPKPath><Package releaseID=\"P1\" path=\"" + theirs + "\"/></QPKPath>\n");
    makeSigner();
    sign(dir + "/bundle.xml");
    const std::vector<std::string> update{"-update", "-path", dir + "/bundle.xml", "-verify", "signed"};
    // An unsigned relocation file is refused under "signed".
    auto r = orvane(update);
    EXPECT_EQ(statusOf(r.out), 3092) << r.out;
    sign(dir + "/relocation.xml");

    // The second open of the package is the one its start reads.
    const int writer =
        spawn(asNobody({helper("in-place-writer"), package, "2", done, std::to_string(head.size()) + "=" + evil,
                        std::to_string(payloadWord) + "=evil"}));
    ASSERT_TRUE(waitForFile(done + ".ready", 10));
    r = orvane(update);
    EXPECT_EQ(waitChild(writer), 0) << "the attacker never got its chance";
    EXPECT_EQ(readFile(package).substr(head.size(), evil.size()), evil);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(statusOf(r.out), 0);
    // What ran is what was verified, and it found itself under its own name.
    EXPECT_EQ(readFile(record), "good\npkg.sh\n");
    // Nothing of the private copy stays.
    for (const auto& entry : std::filesystem::directory_iterator(tempFolder()))
        EXPECT_EQ(entry.path().filename().string().find("plimo-verified-"), std::string::npos) << entry.path();
}

TEST(AttackTest, ResumeOfAPackageReplacedAndMovedMeanwhileIsRefused) {
    const std::string dir = testDir() + "/bundle";
    writeQpk(dir, "a", {4});
    writeFile(dir + "/bundle.xml", "<?xml version=\"1.0\"?>\n<SoftwareBundle><Contents><Package releaseID=\"P1\" "
                                   "path=\"a.sh\" sha256=\"" +
                                       sha256Of(dir + "/a.sh") + "\"/></Contents></SoftwareBundle>\n");
    auto update = svchost(
        {"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml", "reboot=true", "updateid=U1", "zuausrinfo=tester"});
    EXPECT_EQ(statusOf(update.out), 3083) << update.out;
    // Before the restart: the package is replaced, and the relocation file
    // and the definition now point at a good copy elsewhere.
    const std::string original = readFile(dir + "/a.sh");
    writeFile(dir + "/a.sh", "#!/bin/sh\necho replaced >> '" + testDir() + "/record'\nexit 0\n", true);
    writeFile(testDir() + "/moved/a.sh", original, true);
    writeFile(dir + "/relocation.xml",
              "<QPKPath><Package releaseID=\"P1\" path=\"" + testDir() + "/moved\"/></QPKPath>");
    auto resume = runUnit();
    EXPECT_EQ(statusOf(resume.out), 3092) << resume.out;
    EXPECT_FALSE(fileExists(testDir() + "/record"));
    EXPECT_EQ(qpkRuns(dir, "a"), 1);
}

TEST(AttackTest, PlantedFilesNeitherHangNorRedirectTheUpdate) {
    const std::string dir = testDir() + "/bundle";
    writeQpk(dir, "a", {0});
    writeBundle(dir, {"a.sh"});
    const std::vector<std::string> update{"-update", "-path", dir + "/bundle.xml"};

    // A pipe at each place a file is read from: a clear answer at once.
    makeSigner();
    sign(dir + "/bundle.xml");
    const std::string console = tempFolder() + "/PackageConsole.log";
    const struct {
        std::string path;
        int status;
    } pipes[] = {{dir + "/bundle.xml.p7s", 3081},
                 {dir + "/relocation.xml", 3079},
                 {console, 3079},
                 {lockFile(), 3079},
                 {testDir() + "/trust.d/new.pem", 3092}};
    for (const auto& [path, status] : pipes) {
        SCOPED_TRACE(path);
        const std::string saved = readFile(path);
        ::unlink(path.c_str());
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        plimotest::RunResult r;
        EXPECT_LT(timed([&] { r = orvane(update); }), std::chrono::seconds(2));
        EXPECT_EQ(statusOf(r.out), status) << r.out;
        ::unlink(path.c_str());
        if (!saved.empty()) writeFile(path, saved);
        // No lock outlives the call, and the next update runs.
        EXPECT_FALSE(fileExists(lockFile()));
        EXPECT_EQ(statusOf(orvane(update).out), 0);
    }
    EXPECT_EQ(qpkRuns(dir, "a"), 5);

    // A link planted at the user log's place is not written through.
    const std::string secret = writeFile(testDir() + "/secret", "root only\n");
    ::chmod(secret.c_str(), 0600);
    const std::string userLog = testDir() + "/user.xml";
    ASSERT_EQ(::symlink(secret.c_str(), userLog.c_str()), 0);
    const std::vector<std::string> logged{"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml",
                                          "zuausrinfo=tester", "logtarget=" + userLog};
    EXPECT_EQ(statusOf(svchost(logged).out), 3079);
    EXPECT_EQ(statusOf(svchost({"zuacmd=progress", "logtarget=" + userLog}).out), 3079);
    EXPECT_EQ(readFile(secret), "root only\n");
    struct stat status {};
    ASSERT_EQ(::stat(secret.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(qpkRuns(dir, "a"), 5);
    // Nor is a file that another user owns replaced.
    if (runAsRoot()) {
        ::unlink(userLog.c_str());
        writeFile(userLog, "theirs\n");
        giveToNobody(userLog);
        EXPECT_EQ(statusOf(svchost(logged).out), 3079);
        EXPECT_EQ(readFile(userLog), "theirs\n");
    }
    // A log target of the caller's own is written as always.
    ::unlink(userLog.c_str());
    EXPECT_EQ(statusOf(svchost(logged).out), 0);
    EXPECT_EQ(statusOf(readFile(userLog)), 0);
}

TEST(AttackTest, NobodyCanBlockRootsUpdate) {
    const std::string dir = testDir() + "/bundle";
    writeQpk(dir, "a", {0});
    writeBundle(dir, {"a.sh"});
    const std::vector<std::string> update{"-update", "-path", dir + "/bundle.xml"};

    // A state folder others may open (and so lock) is refused before any
    // lock is taken, and says why.
    if (runAsRoot()) {
        ASSERT_EQ(::chmod(tempFolder().c_str(), 0755), 0);
        auto r = orvane(update);
        EXPECT_EQ(statusOf(r.out), 3079) << r.out;
        EXPECT_NE(r.err.find("with mode 0755"), std::string::npos) << r.err;
        EXPECT_FALSE(fileExists(lockFile()));
        EXPECT_EQ(statusOf(svchost({"zuacmd=clean"}).out), 3079);
        EXPECT_EQ(qpkRuns(dir, "a"), 0);
        ASSERT_EQ(::chmod(tempFolder().c_str(), 0700), 0);
        // So is one in a folder that someone else may change.
        giveToNobody(testDir() + "/win");
        r = orvane(update);
        EXPECT_EQ(statusOf(r.out), 3079) << r.out;
        EXPECT_NE(r.err.find("|" + testDir() + "/win| may be changed by others than root"), std::string::npos) << r.err;
        ASSERT_EQ(::chown((testDir() + "/win").c_str(), 0, 0), 0);
        // Root's own folder nobody can even open to lock.
        EXPECT_NE(plimotest::runProgram(asNobody({"/usr/bin/flock", "-n", tempFolder(), "/bin/true"})).exitCode, 0);
        EXPECT_EQ(qpkRuns(dir, "a"), 0);
    }

    // An update id too long to name a final log is refused before anything
    // runs; the next update runs.
    auto r = orvane(update);
    EXPECT_EQ(statusOf(r.out), 0);
    const std::string longId(256, 'x');
    auto refused =
        svchost({"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml", "zuausrinfo=tester", "updateid=" + longId});
    EXPECT_EQ(statusOf(refused.out), 3079) << refused.out;
    for (const std::string& id : {std::string("."), std::string(".."), std::string(128, 'y')}) {
        auto answer =
            svchost({"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml", "zuausrinfo=tester", "updateid=" + id});
        EXPECT_EQ(statusOf(answer.out), id.size() == 128 ? 0 : 3079) << id;
    }
    EXPECT_EQ(qpkRuns(dir, "a"), 2);

    // A final log that cannot be written (a folder in its place) fails its
    // own update, never the next one.
    std::filesystem::create_directories(finalLog("U1") + "/in-the-way");
    auto blocked =
        svchost({"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml", "zuausrinfo=tester", "updateid=U1"});
    EXPECT_EQ(statusOf(blocked.out), 3079) << blocked.out;
    EXPECT_EQ(statusOf(orvane(update).out), 0);
    EXPECT_EQ(qpkRuns(dir, "a"), 4);
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_EQ(unreadableLogs().size(), 1u);
}

TEST(AttackTest, PackagesStayInsideTheirLimits) {
    const std::string dir = testDir() + "/bundle";
    const std::string pids = testDir() + "/pids";
    // One package prints 100 MiB; one starts a process in a session of its
    // own, and one that loses its parent at once, then hangs past its limit.
    writeFile(dir + "/loud.sh",
              "#!/bin/sh\nfor a; do case \"$a\" in /l=*) echo loud > \"${a#/l=}\";; esac; done\n"
              "head -c 104857600 /dev/zero\nexit 0\n",
              true);
    writeFile(dir + "/escape.sh",
              "#!/bin/sh\nsetsid sleep 60 & echo $! >> '" + pids +
                  "'\n"
                  "sh -c 'setsid sleep 60 & echo $! >> \"" +
                  pids + "\"'\nsleep 60\n",
              true);
    writeFile(dir + "/bundle.xml",
              "<?xml version=\"1.0\"?>\n<SoftwareBundle><Contents>"
              "<Package releaseID=\"P1\" path=\"loud.sh\"/><Package releaseID=\"P2\" path=\"escape.sh\" timeout=\"1\"/>"
              "</Contents></SoftwareBundle>\n");
    plimotest::RunResult r;
    EXPECT_LT(timed([&] { r = orvane({"-update", "-path", dir + "/bundle.xml"}); }), std::chrono::seconds(20));
    EXPECT_EQ(statusOf(r.out), 3072) << r.out;

    // The next package's start rotated the log that P1 filled.
    const std::string console = tempFolder() + "/PackageConsole.log.1";
    struct stat status {};
    ASSERT_EQ(::stat(console.c_str(), &status), 0);
    EXPECT_LT(status.st_size, 64 * 1024 * 1024 + 4096);
    EXPECT_GT(status.st_size, 64 * 1024 * 1024);
    const std::string text = readFile(console);
    const std::string::size_type line = text.find("\n=== P1: ");
    ASSERT_NE(line, std::string::npos);
    // What lands while a cut is made is not counted: the count is a floor.
    const std::string count = "\n=== P1: at least ";
    ASSERT_EQ(text.compare(line, count.size(), count), 0);
    const long long dropped = std::atoll(text.c_str() + line + count.size());
    EXPECT_GT(dropped, 0);
    EXPECT_LE(dropped, 36LL * 1024 * 1024);
    EXPECT_NE(text.find(" bytes of output past the first 67108864 bytes were dropped\n", line), std::string::npos);

    // Nothing the timed-out package started lives on.
    const std::vector<std::string> started = plimotest::lines(readFile(pids));
    ASSERT_EQ(started.size(), 2u);
    for (const std::string& pid : started) {
        const std::string stat = readFile("/proc/" + pid + "/stat");
        const std::string::size_type name = stat.rfind(')');
        EXPECT_TRUE(name == std::string::npos || stat[name + 2] == 'Z') << pid << " still runs";
        if (name != std::string::npos && stat[name + 2] != 'Z') ::kill(std::stoi(pid), SIGKILL);
    }
}

namespace {

// Runs argv as nobody when the suite runs as root, else as this user.
void asAttacker(const std::vector<std::string>& argv) {
    const auto r = plimotest::runProgram(runAsRoot() ? asNobody(argv) : argv);
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

// A definition of the packages (file names in dir) with their digests.
void writeDigestBundle(const std::string& dir, const std::vector<std::string>& packages) {
    std::string xml = "<?xml version=\"1.0\"?>\n<SoftwareBundle><Contents>";
    for (std::size_t i = 0; i < packages.size(); ++i)
        xml += "<Package releaseID=\"P" + std::to_string(i + 1) + "\" path=\"" + packages[i] + "\" sha256=\"" +
               sha256Of(dir + "/" + packages[i]) + "\"/>";
    writeFile(dir + "/bundle.xml", xml + "</Contents></SoftwareBundle>\n");
}

} // namespace

TEST(AttackTest, NothingPlantedAtTheMetricsFileHoldsOrRedirectsACall) {
    const std::string dir = testDir() + "/bundle";
    writeQpk(dir, "a", {0});
    writeBundle(dir, {"a.sh"});
    // The node exporter's folder, which every user may write.
    const std::string metrics = testDir() + "/metrics";
    const std::string file = metrics + "/plimo.prom";
    std::filesystem::create_directories(metrics);
    ASSERT_EQ(::chmod(metrics.c_str(), 01777), 0);
    if (runAsRoot()) {
        ASSERT_EQ(::chmod(testDir().c_str(), 0711), 0);
    }
    const std::string secret = writeFile(testDir() + "/secret", "root only\n");
    std::vector<std::pair<const char*, std::vector<std::string>>> plants = {
        {"a pipe", {"/usr/bin/mkfifo", file}},
        {"a link to /dev/zero", {"/bin/ln", "-s", "/dev/zero", file}},
        {"a link to root's file", {"/bin/ln", "-s", secret, file}},
        {"a folder", {"/bin/mkdir", "-p", file + "/inside"}},
    };
    if (runAsRoot()) plants.push_back({"a file of another user", {"/bin/sh", "-c", "echo 'plimo_up 1' > " + file}});
    const std::vector<std::pair<std::vector<std::string>, int>> calls = {
        {{"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml", "zuausrinfo=x", "updateid=M1"}, 0},
        {{"zuacmd=resume"}, 3080},
        {{"zuacmd=clean"}, 0}};
    for (const auto& [what, plant] : plants) {
        for (const auto& [call, answer] : calls) {
            SCOPED_TRACE(std::string(what) + " before " + call[0]);
            std::filesystem::remove_all(file);
            asAttacker(plant);
            plimotest::RunResult r;
            EXPECT_LT(timed([&] { r = svchost(call); }), std::chrono::seconds(3));
            EXPECT_EQ(statusOf(r.out), answer) << r.out;
            // Replaced by root's own file, whatever stood there.
            struct stat status {};
            ASSERT_EQ(::lstat(file.c_str(), &status), 0);
            EXPECT_TRUE(S_ISREG(status.st_mode));
            EXPECT_EQ(status.st_uid, ::geteuid());
            EXPECT_NE(readFile(file).find("{call=\"" + call[0].substr(7) + "\"}"), std::string::npos);
            // A clean still shows the last update's figures.
            EXPECT_NE(readFile(file).find("plimo_last_update_info{update_id=\""), std::string::npos);
            EXPECT_FALSE(fileExists(lockFile()));
        }
    }
    EXPECT_EQ(readFile(secret), "root only\n");
    EXPECT_EQ(qpkRuns(dir, "a"), static_cast<int>(plants.size()));
}

TEST(AttackTest, NobodyDecidesWhereTheResultLogGoesOrWhatOrvaneEndsWith) {
    const std::string dir = testDir() + "/bundle";
    writeQpk(dir, "a", {0});
    writeBundle(dir, {"a.sh"});
    const std::vector<std::string> update{"-update", "-path", dir + "/bundle.xml"};
    // TEMP names a folder that every user may write, as /tmp is.
    const std::string shared = testDir() + "/shared";
    std::filesystem::create_directories(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    if (runAsRoot()) {
        ASSERT_EQ(::chmod(testDir().c_str(), 0711), 0);
    }
    const std::string planted = shared + "/Orvane.log";
    const std::string own = tempFolder() + "/Orvane.log";
    std::vector<std::pair<const char*, std::vector<std::string>>> plants = {
        {"nothing", {"/bin/true"}},
        {"a pipe", {"/usr/bin/mkfifo", planted}},
        {"a dangling link", {"/bin/ln", "-s", testDir() + "/gone", planted}},
    };
    if (runAsRoot()) plants.push_back({"a file of another user", {"/bin/sh", "-c", "echo theirs > " + planted}});
    for (const auto& [what, plant] : plants) {
        SCOPED_TRACE(what);
        std::filesystem::remove(planted);
        std::filesystem::remove(own);
        asAttacker(plant);
        struct stat before {};
        const bool planting = ::lstat(planted.c_str(), &before) == 0;
        const plimotest::RunResult r = orvane(update, {"TEMP=" + shared});
        // The exit code of the answer; one line says where the log went.
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(countOf(r.err, own), 1) << r.err;
        EXPECT_EQ(countOf(r.err, "\n"), 1) << r.err;
        EXPECT_EQ(statusOf(readFile(own)), 0);
        struct stat status {};
        ASSERT_EQ(::stat(own.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0600u);
        struct stat after {};
        EXPECT_EQ(::lstat(planted.c_str(), &after) == 0, planting);
        if (planting) {
            EXPECT_EQ(after.st_ino, before.st_ino);
        }
        EXPECT_EQ(orvane({"-progress"}, {"TEMP=" + shared}).exitCode, 1);
    }
    // In the caller's own folder the log goes where it always went.
    plimotest::RunResult r = orvane(update);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    struct stat status {};
    ASSERT_EQ(::stat((testDir() + "/tmp/Orvane.log").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    // What the caller chose fails as before: a -logc that is a pipe, a TEMP
    // that names no folder.
    std::filesystem::remove(planted);
    ASSERT_EQ(::mkfifo(planted.c_str(), 0600), 0);
    EXPECT_EQ(orvane({"-update", "-path", dir + "/bundle.xml", "-logc", planted}).exitCode, 255);
    EXPECT_EQ(orvane(update, {"TEMP=" + testDir() + "/missing"}).exitCode, 255);
    EXPECT_EQ(qpkRuns(dir, "a"), static_cast<int>(plants.size()) + 3);
}

TEST(AttackTest, RootsWritesAndDeletesStayInFoldersRootControls) {
    if (!runAsRoot()) GTEST_SKIP() << "the attacker runs as nobody, which needs root";
    const std::string dir = testDir() + "/bundle";
    writeQpk(dir, "a", {0});
    writeBundle(dir, {"a.sh"});
    // Root's folder, and a link to it in a folder of nobody's.
    const std::string roots = testDir() + "/roots";
    const std::string victim = writeFile(roots + "/victim.xml", "root's own\n");
    writeZip(roots + "/bundle.zip", dir);
    const std::string theirs = testDir() + "/theirs";
    std::filesystem::create_directories(theirs);
    giveToNobody(theirs);
    asAttacker({"/bin/ln", "-s", roots, theirs + "/way"});

    auto update = [&](const std::vector<std::string>& keys) {
        std::vector<std::string> entries{"zuacmd=update", "zuausrinfo=x"};
        entries.insert(entries.end(), keys.begin(), keys.end());
        return statusOf(svchost(entries).out);
    };
    EXPECT_EQ(update({"bundlepath=" + dir, "bundle=bundle.xml", "logtarget=" + theirs + "/way/victim.xml"}), 3079);
    EXPECT_EQ(readFile(victim), "root's own\n");
    EXPECT_EQ(qpkRuns(dir, "a"), 0);
    EXPECT_EQ(update({"bundlepackage=" + theirs + "/way/bundle.zip", "clearpackage=true"}), 0);
    EXPECT_TRUE(fileExists(roots + "/bundle.zip"));
    // In root's own folders both work as always.
    EXPECT_EQ(update({"bundlepackage=" + roots + "/bundle.zip", "clearpackage=true", "logtarget=" + victim}), 0);
    EXPECT_FALSE(fileExists(roots + "/bundle.zip"));
    EXPECT_EQ(statusOf(readFile(victim)), 0);
    EXPECT_EQ(qpkRuns(dir, "a"), 2);
}

TEST(AttackTest, ControlCharactersOfABundleNeverReachTheTerminal) {
    // A definition in ISO-8859-1 whose byte 0x9B is the terminal's CSI, a
    // package whose file name holds OSC and CSI, and whose log holds them.
    const std::string dir = testDir() + "/bundle";
    const std::string name = "c\xc2\x9d\xc2\x9b";
    writeQpk(dir, name, {0});
    writeFile(dir + "/bundle.xml", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<SoftwareBundle><Contents>"
                                   "<Package releaseID=\"P\x9b"
                                   "31m\" path=\"c\x9d\x9b.sh\" packageType=\"LWXP\"/></Contents></SoftwareBundle>\n");
    const std::string path = dir + "/bundle.xml";
    auto onTerminal = [](const std::vector<std::string>& program, bool withStdout) {
        std::vector<std::string> argv = {"/usr/bin/python3",
                                         std::string(PLIMO_FRONTEND_TEST_SCRIPTS) + "/run_on_pty.py"};
        if (withStdout) argv.push_back("--stdout");
        argv.push_back(orvanePath());
        argv.insert(argv.end(), program.begin(), program.end());
        return plimotest::runProgram(argv, childEnvironment(), testDir());
    };
    auto raw = [](const std::string& text) {
        return text.find("\xc2\x9b") != std::string::npos || text.find("\xc2\x9d") != std::string::npos;
    };
    // The plan, the live view, the answer and the history on a terminal.
    const std::vector<std::vector<std::string>> shown = {
        {"-validate", "-path", path}, {"-update", "-path", path, "-updateid", "U\xc2\x9b"}, {"-history"}};
    for (const auto& program : shown) {
        SCOPED_TRACE(program[0]);
        const plimotest::RunResult r = onTerminal(program, true);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_FALSE(raw(r.err)) << r.err;
        EXPECT_NE(r.err.find("\\x9b"), std::string::npos) << r.err;
    }
    EXPECT_NE(onTerminal({"-update", "-path", path}, false).err.find("] P\\x9b31m c\\x9d\\x9b.sh"), std::string::npos);
    // A pipe gets the answer as it came; JSON escapes every control character.
    plimotest::RunResult r = orvane({"-update", "-path", path});
    EXPECT_NE(r.out.find(name + " run 2"), std::string::npos) << r.out;
    const std::vector<std::pair<std::vector<std::string>, std::string>> json = {
        {{"-update", "-path", path, "-json"}, "\"release_id\":\"P\\u009b31m\""},
        {{"-history", "-json"}, "\"update_id\":\"U\\u009b\""}};
    for (const auto& [arguments, escaped] : json) {
        r = orvane(arguments);
        EXPECT_EQ(r.exitCode, 0) << r.out;
        EXPECT_FALSE(raw(r.out)) << r.out;
        EXPECT_NE(r.out.find(escaped), std::string::npos) << r.out;
    }
    EXPECT_EQ(qpkRuns(dir, name), 4);
}

TEST(AttackTest, AnOlderSignedBundleIsRefusedUnlessTheCallerAllowsIt) {
    // Two bundles of one signer, the old one signed a second earlier; its
    // second package asks to be resumed after a restart.
    makeSigner();
    const std::string older = testDir() + "/older";
    const std::string newer = testDir() + "/newer";
    writeQpk(older, "a", {0});
    writeQpk(older, "b", {4, 0});
    writeDigestBundle(older, {"a.sh", "b.sh"});
    sign(older + "/bundle.xml");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    writeQpk(newer, "a", {0});
    writeDigestBundle(newer, {"a.sh"});
    sign(newer + "/bundle.xml");
    auto update = [](const std::string& dir, const std::vector<std::string>& more = {}) {
        std::vector<std::string> arguments{"-update", "-path", dir + "/bundle.xml", "-verify", "signed"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return orvane(arguments);
    };
    EXPECT_EQ(update(newer).exitCode, 0);
    auto r = update(older);
    EXPECT_EQ(statusOf(r.out), 3092) << r.out;
    EXPECT_EQ(r.exitCode, 1);
    // The refusal names both signing times.
    const std::regex time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
    EXPECT_EQ(std::distance(std::sregex_iterator(r.err.begin(), r.err.end(), time), std::sregex_iterator()), 2)
        << r.err;
    EXPECT_EQ(qpkRuns(older, "a"), 0);
    // Allowed, it runs, and its resume after the restart too.
    r = svchost({"zuacmd=update", "bundlepath=" + older, "bundle=bundle.xml", "zuausrinfo=x", "verify=signed",
                 "allowolder=true", "reboot=true", "updateid=O1"});
    EXPECT_EQ(statusOf(r.out), 3083) << r.out;
    EXPECT_EQ(statusOf(runUnit().out), 0);
    EXPECT_EQ(qpkRuns(older, "b"), 2);
    // The same definition again is not older; one without a signing time of
    // a signer the record knows is.
    EXPECT_EQ(update(newer).exitCode, 0);
    openssl({"cms", "-sign", "-binary", "-noattr", "-outform", "DER", "-in", newer + "/bundle.xml", "-signer",
             "ca/signer.pem", "-inkey", "ca/signer.key", "-out", newer + "/bundle.xml.p7s"});
    EXPECT_EQ(statusOf(update(newer).out), 3092);
    // A torn record refuses nothing, and is written whole again.
    const std::string record = tempFolder() + "/plimo-signing-times";
    writeFile(record, readFile(record).substr(0, readFile(record).size() - 3));
    EXPECT_EQ(update(older).exitCode, 0);
    EXPECT_EQ(readFile(record).back(), '\n');
    sign(newer + "/bundle.xml");
    EXPECT_EQ(update(newer).exitCode, 0);
    EXPECT_EQ(statusOf(update(older).out), 3092);
    EXPECT_EQ(qpkRuns(older, "a"), 2);
    EXPECT_EQ(qpkRuns(newer, "a"), 3);
}
