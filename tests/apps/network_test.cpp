// Two branches exchanging over HTTPS on loopback, with certificates made here: a pull saves at
// B what A holds for it and A marks what B's receipt acknowledges; only pinned, current
// certificates are served; plain HTTP gets no answer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hostkit/db/database.h"
#include "hostkit/sample_data.h"
#include "support/branch_env.h"

namespace orba::apps {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// A self-signed certificate for `name`, valid from `from_s` to `to_s` seconds from now.
void MakeCertificate(const fs::path& dir, const std::string& name, long from_s = -60, long to_s = 86400) {
    static long serial = 1;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), &X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), from_s);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), to_s);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* subject = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(name.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(cert.get(), subject);
    X509_sign(cert.get(), key.get(), EVP_sha256());
    std::unique_ptr<FILE, decltype(&std::fclose)> pem(std::fopen((dir / (name + ".pem")).c_str(), "w"), &std::fclose);
    PEM_write_X509(pem.get(), cert.get());
    std::unique_ptr<FILE, decltype(&std::fclose)> pk(std::fopen((dir / (name + ".key")).c_str(), "w"), &std::fclose);
    PEM_write_PrivateKey(pk.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
}

std::string Slurp(const fs::path& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

fs::path Program() { return fs::read_symlink("/proc/self/exe").parent_path() / "orbabt"; }

class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& [file, branch] : {std::pair{"a.db", 1}, std::pair{"b.db", 2}}) {
            hostkit::SampleOptions o;
            o.branch = branch;
            o.orders = 12;
            o.notices = 8;
            o.returns = 6;
            o.lines = 3;
            o.seed = static_cast<uint64_t>(branch);
            hostkit::CreateSampleDatabase((dir_ / file).string(), o);
        }
        for (const char* name : {"a", "b", "stranger"}) MakeCertificate(dir_.Path(), name);
        MakeCertificate(dir_.Path(), "b-expired", -7200, -3600);
        WritePeers("b.pem");
    }
    void TearDown() override { StopService(); }

    void WritePeers(const std::string& b_certificate) {
        std::unique_ptr<FILE, decltype(&std::fclose)> f(std::fopen((dir_ / "peers.json").c_str(), "w"), &std::fclose);
        std::fprintf(f.get(), "{\"peers\": [{\"branch\": \"01.002\", \"certificate\": \"%s\"}]}",
                     b_certificate.c_str());
    }

    // Starts A's service on a free loopback port and waits until it says where it listens.
    void StartService() {
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        service_ = fork();
        if (service_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            const int err = open((dir_ / "serve.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, STDERR_FILENO);
            const std::string db = (dir_ / "a.db").string(), cert = (dir_ / "a.pem").string(),
                              key = (dir_ / "a.key").string(), peers = (dir_ / "peers.json").string();
            execl(Program().c_str(), "orbabt", "serve", "--db", db.c_str(), "--listen", "127.0.0.1:0", "--cert",
                  cert.c_str(), "--key", key.c_str(), "--peers", peers.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        const size_t colon = line.rfind(':');
        ASSERT_NE(colon, std::string::npos) << line << Slurp(dir_ / "serve.err");
        port_ = std::stoi(line.substr(colon + 1));
    }

    int StopService() {
        if (service_ <= 0) return -1;
        kill(service_, SIGTERM);
        int status = 0;
        waitpid(service_, &status, 0);
        service_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Runs orbabt pull at B; returns its exit status, its output in `out`.
    int Pull(const std::string& cert, const std::string& peer_cert, std::string& out) {
        return Orbabt("pull --db b.db --from https://127.0.0.1:" + std::to_string(port_) + " --cert " + cert +
                          ".pem --key " + cert + ".key --peer-cert " + peer_cert,
                      out);
    }

    // Runs orbabt with `args` in the test's folder; returns its exit status, its output in `out`.
    int Orbabt(const std::string& args, std::string& out) {
        const std::string command =
            "cd '" + dir_.Path().string() + "' && '" + Program().string() + "' " + args + " >run.out 2>&1";
        const int raw = std::system(command.c_str());
        out = Slurp(dir_ / "run.out");
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    int64_t Count(const std::string& file, const std::string& sql) {
        return hostkit::OpenDatabase((dir_ / file).string())->Query(sql)->Value(0).ToLong();
    }

    TempDir dir_;
    pid_t service_ = 0;
    int port_ = 0;
};

// B pulls what A holds for it, then pushes its own bills for A to A's service: each bill is
// saved once at the other branch and marked once where it was made.
TEST_F(NetworkTest, PullAndPushMoveEachBillOnceAndMarkItWhereItWasMade) {
    const std::string waiting = "SELECT count(*) FROM POOrder WHERE FRelateBrID=2 AND FStatus IN (1,2) AND "
                                "(FTranStatus IS NULL OR FTranStatus<>1)";
    const int64_t orders_for_b = Count("a.db", waiting);
    ASSERT_GT(orders_for_b, 0);
    // An exchange whose receipt never reached A: B saved the bills, A did not mark them.
    std::string out;
    ASSERT_EQ(Orbabt("request --types 501 502 503 -o rq.json", out), 0) << out;
    ASSERT_EQ(Orbabt("package --db a.db --requests rq.json --to 01.002 --to-name 苏州锦程精密机械有限公司 -o lost.json",
                     out), 0) << out;
    ASSERT_EQ(Orbabt("unpackage --db b.db lost.json", out), 0) << out;
    ASSERT_EQ(Count("a.db", waiting), orders_for_b);
    // The next pull gets them again; B answers "already held" and A marks them.
    StartService();
    ASSERT_EQ(Pull("b", "a.pem", out), 0) << out << Slurp(dir_ / "serve.err");
    EXPECT_NE(out.find("saved 0, updated 0, already held"), std::string::npos) << out;
    EXPECT_EQ(Count("a.db", waiting), 0) << out;
    EXPECT_EQ(Count("b.db", "SELECT count(*) FROM t_RcvBill WHERE FTranType=71"), orders_for_b);
    // Nothing is left to send: a second pull saves and marks nothing more.
    ASSERT_EQ(Pull("b", "a.pem", out), 0) << out;
    EXPECT_EQ(Count("b.db", "SELECT count(*) FROM t_RcvBill WHERE FTranType=71"), orders_for_b);

    const std::string waiting_at_b = "SELECT count(*) FROM POOrder WHERE FRelateBrID=1 AND FStatus IN (1,2) AND "
                                     "(FTranStatus IS NULL OR FTranStatus<>1)";
    const int64_t orders_for_a = Count("b.db", waiting_at_b);
    ASSERT_GT(orders_for_a, 0);
    ASSERT_EQ(Orbabt("package --db b.db --requests rq.json --to 01.001 --to-name 上海锦程实业有限公司 -o b2a.json", out), 0) << out;
    const std::string push = "push --db b.db --to https://127.0.0.1:" + std::to_string(port_) +
                             " --cert b.pem --key b.key --peer-cert a.pem b2a.json";
    ASSERT_EQ(Orbabt(push, out), 0) << out << Slurp(dir_ / "serve.err");
    EXPECT_EQ(Count("b.db", waiting_at_b), 0) << out;
    EXPECT_EQ(Count("a.db", "SELECT count(*) FROM t_RcvBill WHERE FTranType=71"), orders_for_a);
    // The same list pushed again: held already, nothing saved twice.
    ASSERT_EQ(Orbabt(push, out), 0) << out;
    EXPECT_EQ(Count("a.db", "SELECT count(*) FROM t_RcvBill WHERE FTranType=71"), orders_for_a);
    EXPECT_EQ(StopService(), 0);
}

TEST_F(NetworkTest, OnlyAPinnedCurrentCertificateIsServedAndTheClientChecksTheService) {
    // The expired certificate of B is pinned too, so that it is refused for its dates alone.
    std::unique_ptr<FILE, decltype(&std::fclose)> f(std::fopen((dir_ / "peers.json").c_str(), "w"), &std::fclose);
    std::fprintf(f.get(), "{\"peers\": [{\"branch\": \"01.002\", \"certificate\": \"b.pem\"}, {\"branch\": \"01.003\", "
                          "\"certificate\": \"b-expired.pem\"}]}");
    f.reset();
    StartService();
    struct Case {
        const char* what;
        std::string cert, peer_cert, service_log;
    } cases[] = {{"an unknown client", "stranger", "a.pem", "not one of the pinned ones"},
                 {"an expired client", "b-expired", "a.pem", "has expired"},
                 {"a service that is not the pinned one", "b", "stranger.pem", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string out;
        EXPECT_EQ(Pull(c.cert, c.peer_cert, out), 1) << out;
        EXPECT_NE(out.find("did not answer"), std::string::npos) << out;
        if (!c.service_log.empty()) {
            const std::string log = Slurp(dir_ / "serve.err");
            EXPECT_NE(log.find(c.service_log), std::string::npos) << log;
            EXPECT_NE(log.find("certificate sha256:"), std::string::npos) << log;
        }
    }
    EXPECT_FALSE(hostkit::OpenDatabase((dir_ / "b.db").string())->HasTable("t_RcvBill"));
    // Plain HTTP is no way in: no HTTP answer comes back.
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string plain = "GET /v1/status HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_GT(write(sock, plain.data(), plain.size()), 0);
    char answer[64] = {};
    const ssize_t n = read(sock, answer, sizeof answer - 1);
    close(sock);
    EXPECT_TRUE(n <= 0 || std::string(answer, static_cast<size_t>(n)).rfind("HTTP/", 0) != 0);
}

}  // namespace
}  // namespace orba::apps
