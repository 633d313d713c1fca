// Package digests and signed bundle definitions, with real files and a
// throw-away certificate authority that the openssl command makes in the
// test's own directory.
#include <unistd.h>

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
    }
    void sign(const std::string& certificate, const std::string& key) {
        openssl({"cms", "-sign", "-binary", "-outform", "DER", "-in", file("bundle.xml"), "-signer",
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
        EXPECT_NE(text.find("<Status state=\"missing\"/><ExeCmd></ExeCmd><PkgLog code=\"3092\">" + problem + "</PkgLog>"),
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
                  "echo P1 >> '" + m_runRecord + "'\nmv '" + intruder + "' '" + file("p2.exe") + "'\n",
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

TEST_F(BundleIntegrityTest, ResumeChecksThePackagesItRebuildsFromTheLog) {
    writeBundle({{"P1", "p1.exe", 4}});
    setDigest("p1.exe", sha256Of(file("p1.exe")));
    EXPECT_EQ(run(), 3074);
    // Changed while the machine restarted: the rebuilt package takes its
    // digest from the definition, and the resume refuses the bundle.
    writeQpk(file("p1.exe"), "changed", 0);
    Bundle resumed(m_log.get(), true);
    EXPECT_EQ(3092, [&] {
        try {
            return resumed.execute(true);
        } catch (const VorkSupport::VorkException& e) {
            return e.getCode();
        }
    }());
    EXPECT_EQ(runs(), Runs{"P1"});
}

TEST_F(BundleIntegrityTest, SignedDefinitions) {
    makeCertificates();
    writeBundle({{"P1", "p1.exe"}});
    EXPECT_EQ(run(false, "signed"), 3092); // no certificate to check with
    trust("ca.pem", readFile(testDir() + "/ca/ca.pem"));
    trust("README", "not a certificate");
    EXPECT_EQ(run(), 3092); // unsigned
    sign("signer", "signer");
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(runs(), Runs{"P1"});

    struct Case {
        const char* name;
        void (*spoil)(BundleIntegrityTest& test);
    };
    const Case cases[] = {
        {"tampered", [](BundleIntegrityTest& t) { writeFile(t.file("bundle.xml"), readFile(t.file("bundle.xml")) + " "); }},
        {"not DER", [](BundleIntegrityTest& t) { writeFile(t.file("bundle.xml.p7s"), "-----BEGIN CMS-----\n"); }},
        {"expired signer", [](BundleIntegrityTest& t) { t.sign("expired", "signer"); }},
        {"untrusted signer", [](BundleIntegrityTest& t) { t.sign("stranger", "stranger"); }},
        {"only garbage in the trust store", [](BundleIntegrityTest&) { ::unlink((testDir() + "/trust.d/ca.pem").c_str()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(m_runRecord.c_str());
        writeBundle({{"P1", "p1.exe"}});
        trust("ca.pem", readFile(testDir() + "/ca/ca.pem"));
        sign("signer", "signer");
        c.spoil(*this);
        EXPECT_EQ(run(), 3092);
        EXPECT_EQ(runs(), Runs{});
    }
}

} // namespace
