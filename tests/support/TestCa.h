// A certificate authority for TLS tests, made with the openssl command in a
// folder of the test's: a root, an intermediate under it, and server
// certificates issued by either (for a name, valid, expired, or revoked),
// self-signed ones, and OCSP answers about them as the root's responder
// gives them. Every key is an EC P-256 key, made in a few milliseconds.
//
// A program trusts the root when SSL_CERT_FILE names Ca() (the TLS session
// loads the system's store through OpenSSL's default paths), or through the
// HTTP client's TlsExtraCaFile.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

namespace quovix::test {

class TestCa {
 public:
  struct Cert {
    std::string cert;   // PEM of the certificate alone
    std::string key;    // PEM of its key
    std::string chain;  // the certificate followed by the intermediate (when it has one)
    std::string extra;  // the intermediate alone (empty when there is none)
    bool ok = false;
  };

  // dir: an existing folder the CA may fill.
  explicit TestCa(const std::string& dir) : d_(dir) {
    ok_ = Setup(d_ + "/root") && Setup(d_ + "/inter") &&
          Run("req -x509 " + kEc + " -keyout " + d_ + "/root/key.pem -out " + d_ +
              "/root/cert.pem -days 30 -subj \"/CN=Quovix Test Root CA\" -addext basicConstraints=critical,CA:true"
              " -addext keyUsage=critical,keyCertSign,cRLSign") &&
          Run("req " + kEc + " -keyout " + d_ + "/inter/key.pem -out " + d_ +
              "/inter/req.pem -subj \"/CN=Quovix Test Intermediate\"") &&
          Sign("root", d_ + "/inter/req.pem", d_ + "/inter/cert.pem", "ca_ext", "-days 30");
  }
  bool Ok() const { return ok_; }
  const std::string& Dir() const { return d_; }
  std::string Ca() const { return d_ + "/root/cert.pem"; }
  std::string Intermediate() const { return d_ + "/inter/cert.pem"; }

  // A server certificate for the subject "/CN=…" with the subject
  // alternative names san ("IP:127.0.0.1,DNS:localhost"; empty: none),
  // issued by the intermediate (viaIntermediate) or the root, valid for two
  // days around now (see ValidAroundNow), or expired (valid in January 2020).
  Cert Issue(const std::string& name, const std::string& subject, const std::string& san,
             bool expired = false, bool viaIntermediate = false) {
    Cert c = Paths(name);
    const std::string csr = d_ + "/" + name + ".csr";
    const std::string ext = d_ + "/" + name + ".ext";
    std::ofstream(ext) << "basicConstraints=CA:false\nkeyUsage=digitalSignature\n"
                       << "extendedKeyUsage=serverAuth\n"
                       << (san.empty() ? "" : "subjectAltName=" + san + "\n");
    const std::string issuer = viaIntermediate ? "inter" : "root";
    c.ok = Run("req " + kEc + " -keyout " + c.key + " -out " + csr + " -subj \"" + subject + "\"") &&
           Sign(issuer, csr, c.cert, "",
                (expired ? "-startdate 20200101000000Z -enddate 20200201000000Z" : ValidAroundNow()) +
                    std::string(" -extfile ") + ext);
    c.chain = d_ + "/" + name + ".chain.pem";
    std::ofstream(c.chain) << Read(c.cert) << (viaIntermediate ? Read(Intermediate()) : "");
    if (viaIntermediate) c.extra = Intermediate();
    chmod(c.key.c_str(), 0644);  // servers may drop to another user
    return c;
  }

  // Valid from half a day ago for two days: "days left" is then one whatever
  // second the test runs in (from "now" it would be two within the second
  // the certificate was made, one after).
  static std::string ValidAroundNow() {
    auto stamp = [](std::time_t t) {
      char buf[32];
      std::tm tm{};
      gmtime_r(&t, &tm);
      std::strftime(buf, sizeof buf, "%Y%m%d%H%M%SZ", &tm);
      return std::string(buf);
    };
    const std::time_t start = std::time(nullptr) - 43200;
    return "-startdate " + stamp(start) + " -enddate " + stamp(start + 2 * 86400);
  }

  // A self-signed certificate (no CA behind it).
  Cert SelfSigned(const std::string& name, const std::string& subject, const std::string& san) {
    Cert c = Paths(name);
    c.ok = Run("req -x509 " + kEc + " -keyout " + c.key + " -out " + c.cert + " -days 2 -subj \"" +
               subject + "\"" + (san.empty() ? "" : " -addext subjectAltName=" + san));
    c.chain = c.cert;
    chmod(c.key.c_str(), 0644);
    return c;
  }

  // Marks a certificate the root issued as revoked (key compromise).
  bool Revoke(const Cert& c) {
    return Run("ca -batch -config " + d_ + "/root/ca.cnf -revoke " + c.cert +
               " -crl_reason keyCompromise");
  }

  // Writes the root's OCSP answer about a certificate it issued (good, or
  // revoked after Revoke) as DER into file; false when openssl failed.
  bool OcspAnswer(const Cert& c, const std::string& file) {
    const std::string req = file + ".req";
    return Run("ocsp -issuer " + Ca() + " -cert " + c.cert + " -no_nonce -reqout " + req) &&
           Run("ocsp -index " + d_ + "/root/index.txt -rsigner " + Ca() + " -rkey " + d_ +
               "/root/key.pem -CA " + Ca() + " -reqin " + req + " -respout " + file + " -ndays 1");
  }

  // The openssl command with these arguments; its output goes to a log.
  bool Run(const std::string& args) const {
    return std::system(("openssl " + args + " >>" + d_ + "/openssl.log 2>&1").c_str()) == 0;
  }
  std::string Log() const { return Read(d_ + "/openssl.log"); }

 private:
  static inline const std::string kEc = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  Cert Paths(const std::string& name) const {
    Cert c;
    c.cert = d_ + "/" + name + ".pem";
    c.key = d_ + "/" + name + ".key";
    return c;
  }

  // The files `openssl ca` keeps for one authority.
  bool Setup(const std::string& dir) {
    if (std::system(("mkdir -p " + dir + "/new").c_str()) != 0) return false;
    std::ofstream(dir + "/index.txt").flush();
    std::ofstream(dir + "/index.txt.attr") << "unique_subject = no\n";
    std::ofstream(dir + "/serial") << "1000\n";
    std::ofstream(dir + "/ca.cnf")
        << "[ca]\ndefault_ca = this\n"
        << "[this]\ndir = " << dir << "\ndatabase = $dir/index.txt\nnew_certs_dir = $dir/new\n"
        << "serial = $dir/serial\ncertificate = $dir/cert.pem\nprivate_key = $dir/key.pem\n"
        << "default_md = sha256\npolicy = any\nunique_subject = no\nemail_in_dn = no\n"
        << "[any]\ncommonName = supplied\n"
        << "[ca_ext]\nbasicConstraints = critical,CA:true\nkeyUsage = critical,keyCertSign,cRLSign\n";
    return true;
  }

  // Signs a request with the authority of dir (root or inter).
  bool Sign(const std::string& authority, const std::string& csr, const std::string& out,
            const std::string& extensions, const std::string& more) const {
    return Run("ca -batch -notext -config " + d_ + "/" + authority + "/ca.cnf -in " + csr + " -out " +
               out + (extensions.empty() ? "" : " -extensions " + extensions) + " " + more);
  }

  std::string d_;
  bool ok_ = false;
};

}  // namespace quovix::test
