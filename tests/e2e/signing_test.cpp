// Authenticode through the kestrel program, checked by an independent implementation
// (osslsigncode) and the other way round: files we sign verify there, files it signs match here,
// and edits either keep, strip or renew the signature as asked. The CA, the signer's certificate
// and the PKCS#12 file are made with openssl for each run.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pe_builder/pe_builder.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
namespace pb = pebuilder;
using testing::readBytes;
using testing::readText;
using testing::TempDir;

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

bool haveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

class SigningTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!KESTREL_HAVE_APP || !haveTool("openssl") || !haveTool("osslsigncode")) return;
        keys_ = new TempDir();
        keys_->write("ext.cnf",
                     "[req]\ndistinguished_name=dn\n[dn]\n"
                     "[ca]\nbasicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n"
                     "[signer]\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                     "extendedKeyUsage=codeSigning\n");
        keys_->write("password.txt", "test password\n");
        const std::string script =
            "cd " + quote(keys_->path().string()) +
            " && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30"
            " -subj '/CN=Kestrel Test CA' -extensions ca -config ext.cnf"
            " && openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr"
            " -subj '/CN=Kestrel Test Signer/O=Kestrel Tests' -config ext.cnf"
            " && openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out signer.pem"
            " -days 30 -extfile ext.cnf -extensions signer"
            " && openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out signer.p12"
            " -passout file:password.txt";
        ready_ = std::system((script + " >/dev/null 2>&1").c_str()) == 0;
    }
    static void TearDownTestSuite() {
        delete keys_;
        keys_ = nullptr;
    }
    void SetUp() override {
        if (!KESTREL_HAVE_APP) GTEST_SKIP() << "the program is built without the application core";
        if (!ready_)
            GTEST_SKIP() << "openssl and osslsigncode are needed (apt-get install openssl osslsigncode)";
    }

    static fs::path key(const char* name) { return keys_->path() / name; }

    Outcome run(const std::vector<std::string>& arguments, const std::string& input = {},
                const char* program = KESTREL_PROGRAM) const {
        std::string command = "cd " + quote(temp_.path().string()) + " && unset DISPLAY WAYLAND_DISPLAY" +
                              " QT_QPA_PLATFORM && XDG_CONFIG_HOME=" + quote((temp_ / "config").string()) +
                              " XDG_DATA_HOME=" + quote((temp_ / "data").string()) + " timeout 300 " +
                              quote(program);
        for (const std::string& argument : arguments)
            command += " " + quote(argument);
        const fs::path in = temp_.write("stdin.txt", input);
        command += " <" + quote(in.string()) + " >" + quote((temp_ / "stdout.txt").string()) + " 2>" +
                   quote((temp_ / "stderr.txt").string());
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readText(temp_ / "stdout.txt"),
                readText(temp_ / "stderr.txt")};
    }
    // osslsigncode verify against the test CA: its status and everything it printed.
    Outcome verify(const fs::path& file) const {
        const std::string command = "osslsigncode verify -CAfile " + quote(key("ca.pem").string()) + " -in " +
                                    quote(file.string()) + " >" + quote((temp_ / "verify.txt").string()) +
                                    " 2>&1";
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readText(temp_ / "verify.txt"), {}};
    }
    // Signs with osslsigncode (the PKCS#12 file, SHA-384 so that a replaced signature shows).
    void signWithOsslsigncode(const fs::path& in, const fs::path& out) const {
        const std::string command = "osslsigncode sign -pkcs12 " + quote(key("signer.p12").string()) +
                                    " -readpass " + quote(key("password.txt").string()) + " -h sha384 -in " +
                                    quote(in.string()) + " -out " + quote(out.string()) + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    std::vector<std::string> pkcs12Options() const {
        return {"--pkcs12", key("signer.p12").string(), "--password-file", key("password.txt").string()};
    }
    // pefile's view: directory 4 (address, size) and whether the checksum is valid.
    std::string pefileView(const fs::path& file) const {
        const std::string command =
            "/usr/bin/python3 -c 'import pefile,sys; p=pefile.PE(sys.argv[1]); "
            "d=p.OPTIONAL_HEADER.DATA_DIRECTORY[4]; print(d.VirtualAddress, d.Size, p.verify_checksum())' " +
            quote(file.string()) + " >" + quote((temp_ / "pefile.txt").string()) + " 2>&1";
        static_cast<void>(std::system(command.c_str()));
        return readText(temp_ / "pefile.txt");
    }
    fs::path writeImage(const std::string& name, bool pe32Plus, bool overlay) const {
        pb::ImagePlan plan;
        plan.resources = pb::sampleResources();
        plan.pe32Plus = pe32Plus;
        // An odd-sized overlay: the signature must start on an 8-byte boundary after it.
        if (overlay) plan.overlay = pb::bytesOf("appended data after the last section, odd length.");
        return temp_.write(name, pb::buildImage(plan));
    }

    static inline TempDir* keys_ = nullptr;
    static inline bool ready_ = false;
    TempDir temp_;
};

TEST_F(SigningTest, FilesWeSignVerifyWithOsslsigncode) {
    struct Case {
        const char* name;
        bool pe32Plus;
        bool overlay;
        bool signedBefore;
    };
    const Case cases[] = {
        {"pe32.dll", false, false, false},        {"pe32plus.dll", true, false, false},
        {"pe32-overlay.dll", false, true, false}, {"pe32plus-overlay.dll", true, true, false},
        {"pe32-signed.dll", false, true, true},   {"pe32plus-signed.dll", true, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path file = writeImage(c.name, c.pe32Plus, c.overlay);
        if (c.signedBefore) signWithOsslsigncode(file, file.string() + ".signed");
        if (c.signedBefore) fs::rename(file.string() + ".signed", file);
        std::vector<std::string> arguments = {"/Sign",        file.string(), "--description",
                                              "Kestrel test", "--url",       "https://example.com/kestrel"};
        for (const std::string& option : pkcs12Options())
            arguments.push_back(option);
        const Outcome signedRun = run(arguments);
        ASSERT_EQ(signedRun.status, 0) << signedRun.err;
        EXPECT_EQ(signedRun.err.find("was replaced") != std::string::npos, c.signedBefore) << signedRun.err;
        const Outcome verified = verify(file);
        EXPECT_EQ(verified.status, 0) << verified.out;
        EXPECT_NE(verified.out.find("Signature verification: ok"), std::string::npos) << verified.out;
        // A replaced signature is one signature, ours (SHA-256), not a second one beside the old.
        EXPECT_NE(verified.out.find("Number of verified signatures: 1"), std::string::npos) << verified.out;
        EXPECT_NE(verified.out.find("Message digest algorithm  : SHA256"), std::string::npos) << verified.out;
        EXPECT_NE(pefileView(file).find("True"), std::string::npos);
        const Outcome checked = run({"/Signature", file.string(), "--ca", key("ca.pem").string()});
        EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
        EXPECT_NE(checked.out.find("Subject: CN=Kestrel Test Signer"), std::string::npos) << checked.out;
    }
}

TEST_F(SigningTest, RealFilesSignedWithPemKeyAndChainVerify) {
    const char* cache = std::getenv("KESTREL_CORPUS_CACHE");
    const fs::path root = cache != nullptr && *cache
                              ? fs::path(cache)
                              : fs::path(std::getenv("HOME")) / ".cache/kestrel-corpus";
    const fs::path files[] = {root / "root/usr/lib/i386-linux-gnu/wine/i386-windows/notepad.exe",
                              root / "root/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/notepad.exe"};
    if (!fs::exists(files[0])) GTEST_SKIP() << "corpus not fetched (tests/corpus/fetch)";
    int index = 0;
    for (const fs::path& real : files) {
        if (!fs::exists(real)) continue;
        const fs::path copy = temp_ / ("real" + std::to_string(index++) + ".exe");
        fs::copy_file(real, copy);
        const Outcome signedRun =
            run({"/Sign", "/Output:" + copy.string() + ".signed", copy.string(), "--cert",
                 key("signer.pem").string(), "--key", key("signer.key").string(), "--chain",
                 key("ca.pem").string(), "--digest", "sha512"});
        ASSERT_EQ(signedRun.status, 0) << signedRun.err;
        EXPECT_EQ(readBytes(copy), readBytes(real));  // /Output: leaves the input alone
        const Outcome verified = verify(copy.string() + ".signed");
        EXPECT_EQ(verified.status, 0) << real << "\n" << verified.out;
    }
}

TEST_F(SigningTest, EditSignsInOneStepWithThePasswordOnStandardInput) {
    const fs::path file = writeImage("edit.dll", false, true);
    const Outcome edited = run({"/Edit", file.string(), "--set-file-version", "4.3.2.1", "--pkcs12",
                                key("signer.p12").string(), "--password-file", "-"},
                               "test password\n");
    ASSERT_EQ(edited.status, 0) << edited.err;
    EXPECT_EQ(verify(file).status, 0) << verify(file).out;
    // The edit happened: the signed file imports with the new version.
    const Outcome imported = run({"/Decompile", "/Output:work", file.string()});
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(run({"/Signature", file.string()}).status, 0);

    // A wrong password fails and leaves the file as it was.
    const std::vector<std::byte> before = readBytes(file);
    const Outcome wrong = run({"/Edit", file.string(), "--set-file-version", "5.0", "--pkcs12",
                               key("signer.p12").string(), "--password-file", "-"},
                              "not the password\n");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("wrong password"), std::string::npos) << wrong.err;
    EXPECT_EQ(readBytes(file), before);
}

TEST_F(SigningTest, OsslsigncodeSignaturesMatchUntilAnEditKeepsThem) {
    const fs::path plain = writeImage("plain.dll", true, true);
    const fs::path file = temp_ / "signed.dll";
    signWithOsslsigncode(plain, file);
    const Outcome matching = run({"/Signature", file.string(), "--ca", key("ca.pem").string()});
    EXPECT_EQ(matching.status, 0) << matching.out << matching.err;
    EXPECT_NE(matching.out.find("Digest algorithm: sha384"), std::string::npos) << matching.out;
    EXPECT_NE(matching.out.find("Chain verifies against the CA: yes"), std::string::npos) << matching.out;

    const Outcome kept = run({"/Edit", file.string(), "--keep-signature", "--set-file-version", "2.0"});
    ASSERT_EQ(kept.status, 0) << kept.err;
    const Outcome broken = run({"/Signature", file.string()});
    EXPECT_EQ(broken.status, 1) << broken.out;
    EXPECT_NE(broken.out.find("Digest matches the file: no"), std::string::npos) << broken.out;
    EXPECT_NE(verify(file).status, 0);

    // /Compile keeps the table too, and says once that it no longer matches.
    const fs::path other = temp_ / "compiled.dll";
    signWithOsslsigncode(plain, other);
    ASSERT_EQ(run({"/Decompile", "/Output:work", other.string()}).status, 0);
    temp_.write("work/ABOUT.HTML", "<html>changed</html>");
    const Outcome changed = run({"/Compile", "/Output:work", other.string()});
    ASSERT_EQ(changed.status, 0) << changed.err;
    const std::size_t note = changed.err.find("no longer matches");
    EXPECT_NE(note, std::string::npos) << changed.err;
    EXPECT_EQ(changed.err.find("no longer matches", note + 1), std::string::npos) << changed.err;
    EXPECT_EQ(run({"/Signature", (temp_ / "work/compiled.dll").string()}).status, 1);

    // kestrel-rcedit keeps the table as the classic tool does, and warns that it no longer matches.
    const fs::path viaRcedit = temp_ / "rcedit.dll";
    signWithOsslsigncode(plain, viaRcedit);
    const Outcome rcedit = run({viaRcedit.string(), "--set-file-version", "3.0"}, {}, KESTREL_RCEDIT_PROGRAM);
    ASSERT_EQ(rcedit.status, 0) << rcedit.err;
    EXPECT_NE(rcedit.err.find("Warning: the file was signed and its signature no longer matches"),
              std::string::npos)
        << rcedit.err;
    EXPECT_EQ(run({"/Signature", viaRcedit.string()}).status, 1);
}

TEST_F(SigningTest, StripLeavesAnUnsignedFileWithAValidChecksum) {
    const fs::path plain = writeImage("plain.dll", false, false);
    const fs::path file = temp_ / "signed.dll";
    signWithOsslsigncode(plain, file);
    const Outcome stripped = run({"/Edit", file.string(), "--strip-signature", "--set-file-version", "3.1"});
    ASSERT_EQ(stripped.status, 0) << stripped.err;
    const Outcome verified = verify(file);
    EXPECT_NE(verified.status, 0);
    EXPECT_NE(verified.out.find("No signature found"), std::string::npos) << verified.out;
    EXPECT_EQ(pefileView(file), "0 0 True\n");
    EXPECT_EQ(run({"/Signature", file.string()}).status, 1);
    // Signing the stripped file afterwards works with any tool: here ours, checked by osslsigncode.
    std::vector<std::string> arguments = {"/Sign", file.string()};
    for (const std::string& option : pkcs12Options())
        arguments.push_back(option);
    ASSERT_EQ(run(arguments).status, 0);
    EXPECT_EQ(verify(file).status, 0);

    // Data after the table (appended after signing) stays where it is; the table is zeroed.
    const fs::path appended = temp_ / "appended.dll";
    signWithOsslsigncode(plain, appended);
    {
        std::ofstream out(appended, std::ios::binary | std::ios::app);
        out << "trailing data";
    }
    const std::uintmax_t size = fs::file_size(appended);
    const Outcome zeroed = run({"/Edit", appended.string(), "--strip-signature"});
    ASSERT_EQ(zeroed.status, 0) << zeroed.err;
    EXPECT_NE(zeroed.err.find("zeroed in place"), std::string::npos) << zeroed.err;
    EXPECT_EQ(fs::file_size(appended), size);
    EXPECT_EQ(pefileView(appended), "0 0 True\n");
}

TEST_F(SigningTest, RefusedEditsAndFailedSigningLeaveTheFileUnchanged) {
    const fs::path plain = writeImage("plain.dll", false, true);
    const fs::path file = temp_ / "signed.dll";
    signWithOsslsigncode(plain, file);
    const std::vector<std::byte> before = readBytes(file);

    const Outcome refused = run({"/Edit", file.string(), "--set-file-version", "9.9"});
    EXPECT_EQ(refused.status, 2);
    for (const char* option : {"--strip-signature", "--keep-signature", "--pkcs12"})
        EXPECT_NE(refused.err.find(option), std::string::npos) << option << "\n" << refused.err;
    EXPECT_EQ(readBytes(file), before);

    // A time-stamping server that cannot be reached fails the signing, before anything is written.
    std::vector<std::string> arguments = {"/Edit", file.string(), "--set-file-version",
                                          "9.9",   "--timestamp", "http://127.0.0.1:9/tsa"};
    for (const std::string& option : pkcs12Options())
        arguments.push_back(option);
    const Outcome unreachable = run(arguments);
    EXPECT_EQ(unreachable.status, 1);
    EXPECT_NE(unreachable.err.find("could not be reached"), std::string::npos) << unreachable.err;
    EXPECT_EQ(readBytes(file), before);
    for (const auto& entry : fs::directory_iterator(temp_.path()))
        EXPECT_EQ(entry.path().filename().string().find(".kestrel-edit-"), std::string::npos) << entry.path();

    // A certificate table cut short is reported as unreadable (exit 2), not as unsigned.
    std::vector<std::byte> damaged = before;
    damaged.resize(damaged.size() - 16);
    temp_.write("damaged.dll", damaged);
    EXPECT_EQ(run({"/Signature", (temp_ / "damaged.dll").string()}).status, 2);
    EXPECT_EQ(run({"/Signature", (temp_ / "missing.dll").string()}).status, 2);

    // The signing code is loaded only when it is needed. A damaged module beside the program is a
    // clear error for signing and checking, and the file stays as it was; everything else works.
    if (KESTREL_SIGNING_MODULE_BUILT) {
        const fs::path programs = temp_ / "programs";
        fs::create_directory(programs);
        fs::copy_file(KESTREL_PROGRAM, programs / "kestrel");
        temp_.write("programs/libkestrel-signing.so", "not a library");
        const std::string copy = (programs / "kestrel").string();
        std::vector<std::string> sign = {"/Edit", file.string(), "--set-file-version", "9.9"};
        for (const std::string& option : pkcs12Options())
            sign.push_back(option);
        const Outcome unloadable = run(sign, {}, copy.c_str());
        EXPECT_EQ(unloadable.status, 1);
        EXPECT_NE(unloadable.err.find("no signing support"), std::string::npos) << unloadable.err;
        EXPECT_NE(unloadable.err.find("libkestrel-signing.so"), std::string::npos) << unloadable.err;
        EXPECT_EQ(readBytes(file), before);
        const Outcome unchecked = run({"/Signature", file.string()}, {}, copy.c_str());
        EXPECT_EQ(unchecked.status, 2);
        EXPECT_NE(unchecked.err.find("no signing support"), std::string::npos) << unchecked.err;
        EXPECT_EQ(
            run({"/Decompile", plain.string(), "/Output:" + (temp_ / "folder").string()}, {}, copy.c_str())
                .status,
            0);
    }
}

// An RFC 3161 responder on 127.0.0.1: openssl ts behind a minimal HTTP server, started by the test.
constexpr const char* kResponderScript = R"(import http.server, os, subprocess, sys
folder = sys.argv[1]
class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get('Content-Length', 0)))
        with open(os.path.join(folder, 'query.tsq'), 'wb') as f:
            f.write(query)
        subprocess.run(['openssl', 'ts', '-reply', '-config', os.path.join(folder, 'tsa.cnf'),
                        '-queryfile', os.path.join(folder, 'query.tsq'),
                        '-out', os.path.join(folder, 'reply.tsr')], check=True, capture_output=True)
        reply = open(os.path.join(folder, 'reply.tsr'), 'rb').read()
        self.send_response(200)
        self.send_header('Content-Type', 'application/timestamp-reply')
        self.send_header('Content-Length', str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(('127.0.0.1', 0), Handler)
with open(os.path.join(folder, 'port.tmp'), 'w') as f:
    f.write(str(server.server_address[1]))
os.rename(os.path.join(folder, 'port.tmp'), os.path.join(folder, 'port'))
server.serve_forever()
)";

TEST_F(SigningTest, TimestampsFromALocalResponderVerify) {
    const std::string folder = temp_.path().string();
    temp_.write("tsa-ext.cnf",
                "[tsa_ext]\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=critical,timeStamping\n");
    temp_.write("tsa.cnf",
                "[tsa]\ndefault_tsa = tsa_config\n[tsa_config]\nserial = " + folder +
                    "/serial\nsigner_cert = " + folder + "/tsa.pem\ncerts = " + key("ca.pem").string() +
                    "\nsigner_key = " + folder +
                    "/tsa.key\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\n"
                    "digests = sha256, sha384, sha512\naccuracy = secs:1\ness_cert_id_alg = sha256\n");
    temp_.write("responder.py", kResponderScript);
    const std::string make =
        "cd " + quote(folder) + " && openssl req -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr" +
        " -subj '/CN=Kestrel Test TSA' -config " + quote(key("ext.cnf").string()) + " && openssl x509 -req" +
        " -in tsa.csr -CA " + quote(key("ca.pem").string()) + " -CAkey " + quote(key("ca.key").string()) +
        " -CAcreateserial -out tsa.pem -days 30 -extfile tsa-ext.cnf -extensions tsa_ext >/dev/null 2>&1" +
        " && (/usr/bin/python3 responder.py " + quote(folder) + " >/dev/null 2>&1 & echo $! > responder.pid)";
    ASSERT_EQ(std::system(make.c_str()), 0);
    std::string port;
    for (int wait = 0; wait < 100 && port.empty(); ++wait) {
        port = readText(temp_ / "port");
        if (port.empty()) std::system("sleep 0.1");
    }
    const std::string pid = readText(temp_ / "responder.pid");
    ASSERT_FALSE(port.empty()) << "the responder did not start";

    const fs::path file = writeImage("stamped.dll", true, true);
    std::vector<std::string> arguments = {"/Sign", file.string(), "--timestamp",
                                          "http://127.0.0.1:" + port + "/tsa"};
    for (const std::string& option : pkcs12Options())
        arguments.push_back(option);
    const Outcome stamped = run(arguments);
    const Outcome checked = run({"/Signature", file.string(), "--ca", key("ca.pem").string()});
    const std::string command = "osslsigncode verify -CAfile " + quote(key("ca.pem").string()) +
                                " -TSA-CAfile " + quote(key("ca.pem").string()) + " -in " +
                                quote(file.string()) + " >" + quote((temp_ / "verify.txt").string()) +
                                " 2>&1";
    const int verified = std::system(command.c_str());
    std::system(("kill " + pid).c_str());
    ASSERT_EQ(stamped.status, 0) << stamped.err;
    EXPECT_EQ(checked.status, 0) << checked.out;
    EXPECT_NE(checked.out.find("Timestamp: yes"), std::string::npos) << checked.out;
    EXPECT_EQ(verified, 0) << readText(temp_ / "verify.txt");
    EXPECT_NE(readText(temp_ / "verify.txt").find("Timestamp Server Signature verification: ok"),
              std::string::npos)
        << readText(temp_ / "verify.txt");
}

}  // namespace
}  // namespace kestrel
