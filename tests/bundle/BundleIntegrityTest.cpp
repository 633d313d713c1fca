// Package digests and signed bundle definitions, with real files and a
// throw-away certificate authority that the openssl command makes in the
// test's own directory.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <openssl/evp.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BAXMLDoc.h"
#include "Bundle.h"
#include "BundleTestSupport.h"
#include "VorkException.h"

using bundletest::BundleTest;
using plimotest::readFile;
using plimotest::testDir;
using plimotest::writeFile;
using Runs = std::vector<std::string>;

namespace {

std::string sha256Of(const std::string& path) {
    const std::string bytes = readFile(path);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) text += {hex[digest[i] >> 4], hex[digest[i] & 15]};
    return text;
}

void openssl(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{PLIMO_OPENSSL};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const plimotest::RunResult r = plimotest::runProgram(argv, {}, testDir());
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

class BundleIntegrityTest : public BundleTest {
public:
    std::string file(const std::string& name) const { return m_bundleDir + "/" + name; }

    // Gives the package with file name `name` a sha256 attribute.
    void setDigest(const std::string& name, const std::string& digest) const {
        std::string xml = readFile(file("bundle.xml"));
        const std::string at = "path=\"" + name + "\"";
        xml.replace(xml.find(at), at.size(), at + " sha256=\"" + digest + "\"");
        writeFile(file("bundle.xml"), xml);
    }

    // A fresh bundle of P1..P3 (nothing recorded as run yet).
    void freshBundle() {
        ::unlink(m_runRecord.c_str());
        ::unlink(file("p3.exe").c_str());
        writeBundle({{"P1", "p1.exe"}, {"P2", "p2.exe"}, {"P3", "p3.exe"}});
    }

    // Runs the bundle fresh: its result, or the code that refused it.
    int run(bool continueOnFailure = false, const std::string& policy = "") {
        m_log = makeStatusLog(continueOnFailure);
        if (!policy.empty()) Bundle::setVerifyPolicy(*m_log, policy);
        try {
            Bundle bundle(m_log.get(), false);
            return bundle.execute(false);
        } catch (const VorkSupport::VorkException& e) {
            return e.getCode();
        }
    }
    std::string answer() const { return m_log->dumpRoot(); }

    // A CA, a signer it issued, an expired signer and a stranger, in ca/.
    void makeCertificates() {
        const std::vector<std::string> key{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"};
        auto request = [&](std::vector<std::string> arguments) {
            arguments.insert(arguments.begin() + 1, key.begin(), key.end());
            openssl(arguments);
        };
        ::mkdir((testDir() + "/ca").c_str(), 0700);
        request({"req", "-x509", "-keyout", "ca/ca.key", "-out", "ca/ca.pem", "-subj", "/CN=Test CA", "-days", "2"});
        request({"req", "-x509", "-keyout", "ca/stranger.key", "-out", "ca/stranger.pem", "-subj", "/CN=Stranger"});
        request({"req", "-keyout", "ca/signer.key", "-out", "ca/signer.csr", "-subj", "/CN=Signer"});
        for (const auto& [name, days] : {std::pair{"signer", "2"}, std::pair{"expired", "-1"}}) {
            openssl({"x509", "-req", "-in", "ca/signer.csr", "-CA", "ca/ca.pem", "-CAkey", "ca/ca.key", "-days", days,
                     "-out", std::string("ca/") + name + ".pem"});
        }
        // RSA signers the CA issued: a strong one and one of 1024 bits.
        for (const auto& [name, bits] : {std::pair{"rsa", "rsa:2048"}, std::pair{"weak", "rsa:1024"}}) {
            openssl({"req", "-newkey", bits, "-nodes", "-keyout", std::string("ca/") + name + ".key", "-out",
                     "ca/rsa.csr", "-subj", "/CN=RSA"});
            openssl({"x509", "-req", "-in", "ca/rsa.csr", "-CA", "ca/ca.pem", "-CAkey", "ca/ca.key", "-days", "2",
                     "-out", std::string("ca/") + name + ".pem"});
        }
    }
    void sign(const std::string& certificate, const std::string& key, const std::string& digest = "sha256") {
        openssl({"cms", "-sign", "-binary", "-md", digest, "-outform", "DER", "-in", file("bundle.xml"), "-signer",
                 "ca/" + certificate + ".pem", "-inkey", "ca/" + key + ".key", "-out", file("bundle.xml.p7s")});
    }
    void trust(const std::string& name, const std::string& content) const {
        writeFile(testDir() + "/trust.d/" + name, content);
    }

    std::unique_ptr<BAXMLDoc> m_log;
};

TEST_F(BundleIntegrityTest, DigestsAreCheckedBeforeAnythingRuns) {
    freshBundle();
    std::string upper = sha256Of(file("p1.exe"));
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    setDigest("p1.exe", upper);
    setDigest("p2.exe", sha256Of(file("p2.exe")));
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(runs(), (Runs{"P1", "P2", "P3"}));

    struct Case {
        const char* name;
        std::string (*spoil)(BundleIntegrityTest& test); // answers the problem
        const char* policy;
    };
    const Case cases[] = {
        {"wrong digest",
         [](BundleIntegrityTest& t) {
             const std::string expected = sha256Of(t.file("p1.exe"));
             t.setDigest("p3.exe", expected);
             return "SHA-256 mismatch: expected " + expected + ", found " + sha256Of(t.file("p3.exe"));
         },
         ""},
        {"malformed digest",
         [](BundleIntegrityTest& t) {
             t.setDigest("p3.exe", std::string(63, 'a') + "g");
             return "malformed SHA-256 digest: |" + std::string(63, 'a') + "g|";
         },
         ""},
        {"symbolic link to a file outside the bundle",
         [](BundleIntegrityTest& t) {
             const std::string outside = writeFile(testDir() + "/outside.exe", readFile(t.file("p3.exe")), true);
             ::unlink(t.file("p3.exe").c_str());
             EXPECT_EQ(::symlink(outside.c_str(), t.file("p3.exe").c_str()), 0);
             t.setDigest("p3.exe", sha256Of(outside));
             return std::string("SHA-256 digest cannot be checked: the package is a symbolic link");
         },
         ""},
        {"a script whose interpreter others may write",
         [](BundleIntegrityTest& t) {
             const std::string interpreter = writeFile(testDir() + "/bin/sh", readFile("/bin/sh"), true);
             ::chmod(interpreter.c_str(), 0777);
             writeFile(t.file("p3.exe"), "#!" + interpreter + " -e\nexit 0\n", true);
             t.setDigest("p3.exe", sha256Of(t.file("p3.exe")));
             const std::string culprit = ::geteuid() == 0 ? interpreter : testDir();
             return "the interpreter |" + interpreter + "| of the script is not safe: |" + culprit +
                    "| may be changed by others than root";
         },
         ""},
        {"policy digests and a package without one",
         [](BundleIntegrityTest&) { return std::string("no SHA-256 digest, and the verify policy requires one"); },
         "digests"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshBundle();
        setDigest("p1.exe", sha256Of(file("p1.exe")));
        setDigest("p2.exe", sha256Of(file("p2.exe")));
        const std::string problem = c.spoil(*this);
        EXPECT_EQ(run(false, c.policy), 3092);
        EXPECT_EQ(runs(), Runs{});
        // The Validation section and the package's missing entry say why.
        const std::string text = answer();
        EXPECT_NE(text.find("<Integrity releaseID=\"P3\" path=\"" + file("p3.exe") + "\">" + problem + "</Integrity>"),
                  std::string::npos)
            << text;
        EXPECT_NE(
            text.find("<Status state=\"missing\"/><ExeCmd></ExeCmd><PkgLog code=\"3092\">" + problem + "</PkgLog>"),
            std::string::npos)
            << text;
    }
}

TEST_F(BundleIntegrityTest, PackageReplacedBetweenCheckAndStartDoesNotRun) {
    for (const bool continueOnFailure : {false, true}) {
        SCOPED_TRACE(continueOnFailure);
        freshBundle();
        const std::string expected = sha256Of(file("p2.exe"));
        setDigest("p2.exe", expected);
        // P1 puts other bytes in P2's place after the check that opens the run.
        const std::string intruder =
            writeFile(file("intruder"), "#!/bin/sh\necho intruder >> '" + m_runRecord + "'\n", true);
        writeFile(file("p1.exe"),
                  "#!/bin/sh\nfor a; do case \"$a\" in /l=*) echo ran > \"${a#/l=}\";; esac; done\n"
                  "echo P1 >> '" +
                      m_runRecord + "'\nmv '" + intruder + "' '" + file("p2.exe") + "'\n",
                  true);
        const std::string found = sha256Of(intruder);
        EXPECT_EQ(run(continueOnFailure), continueOnFailure ? 3085 : 3072);
        EXPECT_EQ(runs(), continueOnFailure ? (Runs{"P1", "P3"}) : (Runs{"P1"}));
        // P2's entry: a failed run that says why it did not start.
        const std::string text = answer();
        const std::string::size_type entry = text.find("<Package releaseID=\"P2\"");
        EXPECT_NE(text.find("<Status state=\"complete\" code=\"1\" status=\"5\"/>", entry), std::string::npos);
        EXPECT_NE(text.find("<PkgLog code=\"1\">SHA-256 mismatch: expected " + expected + ", found " + found +
                                "</PkgLog></Package>",
                            entry),
                  std::string::npos)
            << text;
    }
}

TEST_F(BundleIntegrityTest, ResumeChecksWhatTheUpdateChecked) {
    const std::string relocation = file("relocation.xml");
    const std::string moved = testDir() + "/moved";
    auto resume = [&] {
        try {
            Bundle resumed(m_log.get(), true);
            return resumed.execute(true);
        } catch (const VorkSupport::VorkException& e) {
            return e.getCode();
        }
    };
    // P1 asks to be resumed; until then, its entry records the digest it
    // was checked against.
    auto update = [&](const std::string& policy) {
        ::unlink(m_runRecord.c_str());
        ::unlink(relocation.c_str());
        writeBundle({{"P1", "p1.exe", 4}});
        setDigest("p1.exe", sha256Of(file("p1.exe")));
        m_log = makeStatusLog(false, false, false, relocation);
        if (!policy.empty()) Bundle::setVerifyPolicy(*m_log, policy);
        Bundle bundle(m_log.get(), false);
        EXPECT_EQ(bundle.execute(false), 3074);
        EXPECT_NE(answer().find(" sha256=\"" + sha256Of(file("p1.exe")) + "\""), std::string::npos) << answer();
    };
    // The definition now lists P1 where the relocation file says, with the
    // digest of what lies there.
    auto moveP1 = [&](const std::string& content) {
        writeFile(moved + "/p1.exe", content, true);
        writeFile(relocation, "<QPKPath><Package releaseID=\"P1\" path=\"" + moved + "\"/></QPKPath>");
        std::string xml = readFile(file("bundle.xml"));
        const std::string at = "sha256=\"";
        xml.replace(xml.find(at) + at.size(), 64, sha256Of(moved + "/p1.exe"));
        writeFile(file("bundle.xml"), xml);
    };

    // Changed while the machine restarted.
    update("");
    writeQpk(file("p1.exe"), "changed", 0);
    EXPECT_EQ(resume(), 3092);
    EXPECT_EQ(runs(), Runs{"P1"});

    // Replaced, and moved by the relocation file: the entry still names the
    // old place, which no longer holds what the update checked.
    update("");
    const std::string replaced = readFile(writeQpk(file("p1.exe"), "replaced", 0));
    moveP1(replaced);
    EXPECT_EQ(resume(), 3092);
    EXPECT_EQ(runs(), Runs{"P1"});

    // Under a policy an entry that no package of the definition matches is
    // refused, even when its file is as it was.
    update("digests");
    moveP1(readFile(file("p1.exe")));
    EXPECT_EQ(resume(), 3092);
    EXPECT_EQ(runs(), Runs{"P1"});
    EXPECT_NE(answer().find("no package of the bundle definition has this entry's release id and path"),
              std::string::npos);
}

TEST_F(BundleIntegrityTest, TwoPackagesUnderOneReleaseIdAreMalformedWhereDigestsDecide) {
    writeBundle({{"P1", "p1.exe"}, {"P1", "p2.exe"}});
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(runs(), (Runs{"P1", "P1"})); // as it always was: the first, twice
    EXPECT_EQ(run(false, "digests"), 3081);
    setDigest("p2.exe", sha256Of(file("p2.exe")));
    EXPECT_EQ(run(), 3081);
    EXPECT_EQ(runs(), (Runs{"P1", "P1"}));
}

TEST_F(BundleIntegrityTest, SignedDefinitions) {
    makeCertificates();
    writeBundle({{"P1", "p1.exe"}});
    EXPECT_EQ(run(false, "signed"), 3092); // no certificate to check with
    trust("ca.pem", readFile(testDir() + "/ca/ca.pem"));
    EXPECT_EQ(run(), 3092); // unsigned
    sign("signer", "signer");
    EXPECT_EQ(run(), 0);
    sign("rsa", "rsa");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(runs(), (Runs{"P1", "P1"}));

    // Signers as public authorities issue code signing certificates (for
    // code signing only, with or without a key usage) sign; one for any
    // other purpose, or whose key may not sign, does not.
    writeFile(testDir() + "/ca/purposes.cnf",
              "[code]\nextendedKeyUsage = codeSigning\n"
              "[codeSigning]\nextendedKeyUsage = critical, codeSigning\n"
              "keyUsage = critical, digitalSignature\n"
              "[server]\nextendedKeyUsage = serverAuth\nkeyUsage = digitalSignature\n"
              "[cipherOnly]\nextendedKeyUsage = codeSigning\nkeyUsage = keyEncipherment\n");
    for (const auto& [purpose, status] : {std::pair{"code", 0}, std::pair{"codeSigning", 0}, std::pair{"server", 3092},
                                          std::pair{"cipherOnly", 3092}}) {
        SCOPED_TRACE(purpose);
        openssl({"x509", "-req", "-in", "ca/signer.csr", "-CA", "ca/ca.pem", "-CAkey", "ca/ca.key", "-days", "2",
                 "-extfile", "ca/purposes.cnf", "-extensions", purpose, "-out", std::string("ca/") + purpose + ".pem"});
        sign(purpose, "signer");
        EXPECT_EQ(run(), status);
    }
    EXPECT_EQ(runs(), (Runs{"P1", "P1", "P1", "P1"}));

    struct Case {
        const char* name;
        void (*spoil)(BundleIntegrityTest& test);
    };
    const Case cases[] = {
        {"tampered",
         [](BundleIntegrityTest& t) { writeFile(t.file("bundle.xml"), readFile(t.file("bundle.xml")) + " "); }},
        {"not DER", [](BundleIntegrityTest& t) { writeFile(t.file("bundle.xml.p7s"), "-----BEGIN CMS-----\n"); }},
        {"expired signer", [](BundleIntegrityTest& t) { t.sign("expired", "signer"); }},
        {"untrusted signer", [](BundleIntegrityTest& t) { t.sign("stranger", "stranger"); }},
        {"SHA-1 digest", [](BundleIntegrityTest& t) { t.sign("rsa", "rsa", "sha1"); }},
        {"MD5 digest", [](BundleIntegrityTest& t) { t.sign("rsa", "rsa", "md5"); }},
        {"a digest the library does not know (and must not leak over)",
         [](BundleIntegrityTest& t) {
             // The first SHA-256 identifier is the one of the signed data's
             // digest list, which the signer's own attributes do not cover.
             std::string der = readFile(t.file("bundle.xml.p7s"));
             const std::size_t at = der.find("\x60\x86\x48\x01\x65\x03\x04\x02\x01");
             ASSERT_NE(at, std::string::npos);
             der[at + 6] = 0x55;
             writeFile(t.file("bundle.xml.p7s"), der);
         }},
        {"RSA-1024 signer", [](BundleIntegrityTest& t) { t.sign("weak", "weak"); }},
        {"a note beside the certificate", [](BundleIntegrityTest& t) { t.trust("README", "not a certificate"); }},
        {"a dangling link beside the certificate",
         [](BundleIntegrityTest&) { EXPECT_EQ(::symlink("gone.pem", (testDir() + "/trust.d/old.pem").c_str()), 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(m_runRecord.c_str());
        std::filesystem::remove_all(testDir() + "/trust.d");
        writeBundle({{"P1", "p1.exe"}});
        trust("ca.pem", readFile(testDir() + "/ca/ca.pem"));
        sign("signer", "signer");
        c.spoil(*this);
        EXPECT_EQ(run(), 3092);
        EXPECT_EQ(runs(), Runs{});
    }

    // Under "signed" the relocation file is verified too, by a signature
    // of its own; a pipe in the signature's place is bad input.
    auto relocated = [&] {
        ::unlink(m_runRecord.c_str());
        m_log = makeStatusLog(false, false, false, file("relocation.xml"));
        Bundle::setVerifyPolicy(*m_log, "signed");
        try {
            return Bundle(m_log.get(), false).execute(false);
        } catch (const VorkSupport::VorkException& e) {
            return e.getCode();
        }
    };
    std::filesystem::remove_all(testDir() + "/trust.d");
    trust("ca.pem", readFile(testDir() + "/ca/ca.pem"));
    writeBundle({{"P1", "p1.exe"}});
    setDigest("p1.exe", sha256Of(file("p1.exe")));
    sign("signer", "signer");
    writeFile(file("relocation.xml"), "<QPKPath/>");
    EXPECT_EQ(relocated(), 3092);
    openssl({"cms", "-sign", "-binary", "-outform", "DER", "-in", file("relocation.xml"), "-signer", "ca/signer.pem",
             "-inkey", "ca/signer.key", "-out", file("relocation.xml.p7s")});
    EXPECT_EQ(relocated(), 0);
    writeFile(file("relocation.xml"), "<QPKPath><Package releaseID=\"P1\" path=\"/tmp\"/></QPKPath>");
    EXPECT_EQ(relocated(), 3092);
    ::unlink(file("relocation.xml.p7s").c_str());
    ASSERT_EQ(::mkfifo(file("relocation.xml.p7s").c_str(), 0600), 0);
    EXPECT_EQ(relocated(), 3081);
    EXPECT_EQ(runs(), Runs{});
    ::unlink(file("relocation.xml.p7s").c_str());
    ::unlink(file("relocation.xml").c_str());

    // A store that holds anything at all requires signatures: whatever
    // odd thing it holds, an unsigned definition does not run, and a pipe
    // there hangs nothing.
    const std::vector<std::pair<const char*, void (*)(const std::string&)>> oddStores = {
        {"only a dangling link",
         [](const std::string& d) { EXPECT_EQ(::symlink("gone.pem", (d + "/x.pem").c_str()), 0); }},
        {"only a folder", [](const std::string& d) { std::filesystem::create_directory(d + "/sub"); }},
        {"only a dot-file",
         [](const std::string& d) { writeFile(d + "/.ca.pem", readFile(testDir() + "/ca/ca.pem")); }},
        {"only a pipe", [](const std::string& d) { EXPECT_EQ(::mkfifo((d + "/ca.pem").c_str(), 0600), 0); }},
    };
    for (const auto& [name, make] : oddStores) {
        SCOPED_TRACE(name);
        ::unlink(m_runRecord.c_str());
        std::filesystem::remove_all(testDir() + "/trust.d");
        std::filesystem::create_directory(testDir() + "/trust.d");
        make(testDir() + "/trust.d");
        writeBundle({{"P1", "p1.exe"}});
        ::unlink(file("bundle.xml.p7s").c_str());
        EXPECT_EQ(run(), 3092);
        EXPECT_EQ(runs(), Runs{});
    }
}

} // namespace
