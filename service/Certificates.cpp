#include "Certificates.h"

#include <arpa/inet.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <set>
#include <stdexcept>

#include "ServiceTls.h"
#include "SystemError.h"
#include "files/ReplaceFile.h"

namespace service {

namespace {

// Long enough that a lab does not meet the end; an hour back for a clock running behind.
constexpr long VALID_DAYS = 3650;
constexpr long VALID_BEFORE_SECONDS = 3600;

template <class T, void (*Free)(T*)>
struct SFree {
  void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, SFree<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, SFree<X509, X509_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, SFree<X509_EXTENSION, X509_EXTENSION_free>>;
using Bio = std::unique_ptr<BIO, SFree<BIO, BIO_free_all>>;
using Number = std::unique_ptr<BIGNUM, SFree<BIGNUM, BN_free>>;

void Require(bool done, const char* what) {
  if (!done) throw std::runtime_error(std::string("cannot make the certificates: ") + what + " failed");
}

bool IsAddress(const std::string& name) {
  unsigned char address[sizeof(in6_addr)];
  return inet_pton(AF_INET, name.c_str(), address) == 1 || inet_pton(AF_INET6, name.c_str(), address) == 1;
}

// A host name's letters only, so a name is also a folder's and never reads as more
// than one entry of an extension.
void CheckName(const std::string& name) {
  const bool hostName = !name.empty() && name.size() <= 253 && name.front() != '.' && name.front() != '-' &&
                        name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") ==
                            std::string::npos;
  if (!hostName && !IsAddress(name)) {
    throw std::runtime_error("'" + name + "' is neither a host name nor an IP address");
  }
}

void Extend(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  const Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
  Require(extension && X509_add_ext(certificate, extension.get(), -1) == 1, "an extension");
}

// A certificate for key named commonName, to be signed by issuer; by itself without one.
Certificate Issue(EVP_PKEY* key, const std::string& commonName, X509* issuer) {
  Certificate c(X509_new());
  Require(c != nullptr && X509_set_version(c.get(), 2) == 1, "a certificate");
  const Number serial(BN_new());
  Require(serial && BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
              BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(c.get())) != nullptr,
          "a serial number");
  Require(X509_gmtime_adj(X509_getm_notBefore(c.get()), -VALID_BEFORE_SECONDS) != nullptr &&
              X509_time_adj_ex(X509_getm_notAfter(c.get()), VALID_DAYS, 0, nullptr) != nullptr,
          "the validity");
  X509_NAME* subject = X509_get_subject_name(c.get());
  Require(X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_UTF8,
                                     reinterpret_cast<const unsigned char*>("Sorrel lab"), -1, -1, 0) == 1 &&
              X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0) == 1,
          "the subject");
  X509* signer = issuer != nullptr ? issuer : c.get();
  Require(X509_set_issuer_name(c.get(), X509_get_subject_name(signer)) == 1 && X509_set_pubkey(c.get(), key) == 1,
          "the issuer");
  Extend(c.get(), signer, NID_subject_key_identifier, "hash");
  Extend(c.get(), signer, NID_authority_key_identifier, "keyid:always");
  return c;
}

void Sign(X509* certificate, EVP_PKEY* key) { Require(X509_sign(certificate, key, EVP_sha256()) > 0, "signing"); }

Key NewKey() {
  Key key(EVP_EC_gen("P-256"));
  Require(key != nullptr, "a key");
  return key;
}

template <class Write>
std::string Pem(Write write) {
  const Bio bio(BIO_new(BIO_s_mem()));
  Require(bio && write(bio.get()) == 1, "PEM");
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(size));
}

std::string CertificatePem(X509* c) {
  return Pem([c](BIO* b) { return PEM_write_bio_X509(b, c); });
}

std::string KeyPem(EVP_PKEY* k) {
  return Pem([k](BIO* b) { return PEM_write_bio_PrivateKey(b, k, nullptr, nullptr, 0, nullptr, nullptr); });
}

void MakeFolder(const std::string& path, mode_t mode) {
  if (mkdir(path.c_str(), mode) != 0 && errno != EEXIST) throw SystemError("cannot make " + path);
}

void Write(const std::string& path, const std::string& text) {
  if (!ReplaceFile(path, {text})) throw SystemError("cannot write " + path);
}

// Owner-only from its first byte: a key replaced keeps the mode of the one before it, and a
// new one gets the umask's.
void WriteKey(const std::string& path, const std::string& text) {
  if (chmod(path.c_str(), 0600) != 0 && errno != ENOENT) throw SystemError("cannot make " + path + " owner-only");
  const mode_t mask = umask(0177);
  const bool written = ReplaceFile(path, {text});
  const int failure = errno;
  umask(mask);
  errno = failure;
  if (!written) throw SystemError("cannot write " + path);
}

// What one machine's folder holds, made ready before any file is written.
struct SMachine {
  std::string Folder;
  ETlsSide Side;
  std::string Certificate;
  std::string Key;
};

SMachine Machine(const std::string& folder, ETlsSide side, const std::vector<std::string>& names, X509* authority,
                 EVP_PKEY* authorityKey) {
  const Key key = NewKey();
  const Certificate c = Issue(key.get(), names.front(), authority);
  Extend(c.get(), authority, NID_basic_constraints, "critical,CA:FALSE");
  Extend(c.get(), authority, NID_key_usage, "critical,digitalSignature,keyEncipherment");
  Extend(c.get(), authority, NID_ext_key_usage, side == ETlsSide::Server ? "serverAuth" : "clientAuth");
  std::string alternatives;
  for (const std::string& name : names) {
    if (!alternatives.empty()) alternatives += ',';
    alternatives += IsAddress(name) ? "IP:" : "DNS:";
    alternatives += name;
  }
  Extend(c.get(), authority, NID_subject_alt_name, alternatives);
  Sign(c.get(), authorityKey);
  return {folder, side, CertificatePem(c.get()), KeyPem(key.get())};
}

}  // namespace

void MakeCertificates(const std::string& folder, const std::vector<std::string>& serverNames,
                      const std::vector<std::string>& clients) {
  if (serverNames.empty()) throw std::runtime_error("the service needs at least one name");
  for (const std::string& name : serverNames) CheckName(name);
  std::set<std::string> seen;
  for (const std::string& client : clients) {
    CheckName(client);
    if (client == TlsStem(ETlsSide::Server)) throw std::runtime_error("a client cannot be named 'server'");
    if (!seen.insert(client).second) throw std::runtime_error("the client " + client + " is named twice");
  }

  const Key authorityKey = NewKey();
  const Certificate authority = Issue(authorityKey.get(), "Sorrel lab authority", nullptr);
  Extend(authority.get(), authority.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
  Extend(authority.get(), authority.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  Sign(authority.get(), authorityKey.get());
  const std::string authorityPem = CertificatePem(authority.get());

  std::vector<SMachine> machines;
  machines.push_back(Machine(folder + "/" + TlsStem(ETlsSide::Server), ETlsSide::Server, serverNames,
                             authority.get(), authorityKey.get()));
  for (const std::string& client : clients) {
    machines.push_back(Machine(folder + "/" + client, ETlsSide::Client, {client}, authority.get(), authorityKey.get()));
  }
  MakeFolder(folder, 0755);
  for (const SMachine& m : machines) {
    MakeFolder(m.Folder, 0700);
    const std::string stem = m.Folder + "/" + TlsStem(m.Side);
    WriteKey(stem + ".key", m.Key);
    Write(stem + ".pem", m.Certificate);
    Write(m.Folder + "/" + TLS_AUTHORITY_FILE, authorityPem);
  }
}

}  // namespace service
