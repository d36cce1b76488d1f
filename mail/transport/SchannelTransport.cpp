// The SMTP transport on Windows: TCP through Asio, TLS through the system's own SChannel (SSPI).
// SChannel is told not to judge the server's certificate; this file does, as the Linux transport
// does: a chain to a root the system trusts, made for server authentication, naming `host`.
// Nothing is sent to a server before its certificate has passed.
#include "mail/transport/AsioSocketTransport.h"
// Asio brings winsock2.h, which must come before windows.h.
#define SECURITY_WIN32
#include <windows.h>
// The SSPI and certificate headers need windows.h first.
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace dv {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string Hex(unsigned long code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", code);
  return text;
}

// The user's words for an SSPI status, its code beside them for a search.
std::string DescribeStatus(SECURITY_STATUS status) {
  const char* text = "error";
  switch (status) {
    case SEC_E_ALGORITHM_MISMATCH:
      text = "no protocol version or cipher in common";
      break;
    case SEC_E_ILLEGAL_MESSAGE:
      text = "the server's message was not understood";
      break;
    case SEC_E_UNSUPPORTED_FUNCTION:
      text = "not supported";
      break;
    case SEC_E_SECPKG_NOT_FOUND:
      text = "the TLS provider is missing";
      break;
    case SEC_E_INTERNAL_ERROR:
      text = "internal error of the TLS provider";
      break;
    default:
      break;
  }
  return std::string(text) + " (" + Hex(static_cast<unsigned long>(status)) + ")";
}

// What can be wrong with a certificate chain: the chain's status bit, the policy check's code for
// it, and OpenSSL's words where they match, so that both systems read alike.
struct ChainProblem {
  DWORD chainBit;
  HRESULT policyError;
  const char* text;
};
constexpr ChainProblem kChainProblems[] = {
    {CERT_TRUST_IS_PARTIAL_CHAIN, CERT_E_CHAINING, "untrusted authority (issuer not found)"},
    {CERT_TRUST_IS_UNTRUSTED_ROOT, CERT_E_UNTRUSTEDROOT,
     "untrusted authority (self-signed or unknown root)"},
    {CERT_TRUST_IS_NOT_TIME_VALID, CERT_E_EXPIRED, "certificate has expired or is not yet valid"},
    {CERT_TRUST_IS_NOT_SIGNATURE_VALID, TRUST_E_CERT_SIGNATURE, "certificate signature failure"},
    {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, CERT_E_WRONG_USAGE, "unsupported certificate purpose"},
    {CERT_TRUST_IS_REVOKED, CERT_E_REVOKED, "certificate revoked"},
};
// Revocation is not asked about (neither does the Linux transport), so its unknown state is no
// fault.
constexpr DWORD kRevocationUnknown =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

std::string ChainStatusProblem(DWORD status) {
  status &= ~kRevocationUnknown;
  for (const ChainProblem& problem : kChainProblems) {
    if ((status & problem.chainBit) != 0) return problem.text;
  }
  return status == 0 ? std::string() : "chain status " + Hex(status);
}

std::string PolicyProblem(DWORD error, bool address) {
  if (static_cast<HRESULT>(error) == CERT_E_CN_NO_MATCH) {
    return address ? "IP address mismatch" : "hostname mismatch";
  }
  for (const ChainProblem& problem : kChainProblems) {
    if (static_cast<HRESULT>(error) == problem.policyError) return problem.text;
  }
  return "error " + Hex(error);
}

std::wstring Widen(const std::string& text) {
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

using CertificatePtr = std::unique_ptr<const CERT_CONTEXT, decltype(&CertFreeCertificateContext)>;
using ChainPtr = std::unique_ptr<const CERT_CHAIN_CONTEXT, decltype(&CertFreeCertificateChain)>;

// Empty when `certificate` chains to a trusted root for server authentication and names `host`.
std::string CheckCertificate(const CERT_CONTEXT& certificate, const std::string& host) {
  char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  char* usages[] = {serverAuth};
  CERT_CHAIN_PARA request{};
  request.cbSize = sizeof request;
  request.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  request.RequestedUsage.Usage.cUsageIdentifier = 1;
  request.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  // The server's intermediate certificates came with it, in its store.
  if (!CertGetCertificateChain(nullptr, &certificate, nullptr, certificate.hCertStore, &request, 0,
                               nullptr, &built)) {
    return "the chain cannot be built (" + Hex(GetLastError()) + ")";
  }
  const ChainPtr chain(built, CertFreeCertificateChain);
  // The chain's own status first: Wine's policy check below passes a chain whose issuer is
  // nowhere to be found.
  std::string problem = ChainStatusProblem(chain->TrustStatus.dwErrorStatus);
  if (!problem.empty()) return problem;

  std::wstring name = Widen(host);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA server{};
  server.cbSize = sizeof server;
  server.dwAuthType = AUTHTYPE_SERVER;
  server.pwszServerName = name.data();
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &server;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status)) {
    return "the check itself failed (" + Hex(GetLastError()) + ")";
  }
  if (status.dwError == 0) return {};
  asio::error_code notAddress;
  asio::ip::make_address(host, notAddress);
  return PolicyProblem(status.dwError, !notAddress);
}

class Credentials {
 public:
  Credentials() = default;
  Credentials(const Credentials&) = delete;
  Credentials& operator=(const Credentials&) = delete;
  ~Credentials() {
    if (valid_) FreeCredentialsHandle(&handle_);
  }

  // TLS 1.2 or newer, no client certificate, the server's certificate left to us.
  SECURITY_STATUS Acquire() {
    if (valid_) return SEC_E_OK;
    SCHANNEL_CRED wanted{};
    wanted.dwVersion = SCHANNEL_CRED_VERSION;
    wanted.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
    wanted.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    wchar_t package[] = UNISP_NAME_W;
    const SECURITY_STATUS status =
        AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &wanted, nullptr,
                                  nullptr, &handle_, nullptr);
    valid_ = status == SEC_E_OK;
    return status;
  }
  bool Valid() const { return valid_; }
  CredHandle* Get() { return &handle_; }

 private:
  CredHandle handle_{};
  bool valid_ = false;
};

class SecurityContext {
 public:
  SecurityContext() = default;
  SecurityContext(const SecurityContext&) = delete;
  SecurityContext& operator=(const SecurityContext&) = delete;
  ~SecurityContext() {
    if (valid_) DeleteSecurityContext(&handle_);
  }
  bool Valid() const { return valid_; }
  void MarkValid() { valid_ = true; }
  CtxtHandle* Get() { return &handle_; }

 private:
  CtxtHandle handle_{};
  bool valid_ = false;
};

// A token SSPI allocated, sent and freed.
struct SspiBuffer {
  SecBuffer buffer{0, SECBUFFER_TOKEN, nullptr};
  ~SspiBuffer() {
    if (buffer.pvBuffer != nullptr) FreeContextBuffer(buffer.pvBuffer);
  }
};

milliseconds Left(Clock::time_point deadline) {
  return std::max(milliseconds::zero(),
                  std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
}

class SchannelTransport final : public AsioSocketTransport {
 public:
  ~SchannelTransport() override { Close(); }

  void StartTls(const std::string& host, milliseconds limit) override {
    if (!Open()) throw SmtpFailure("not connected");
    const SECURITY_STATUS acquired = credentials_.Acquire();
    if (acquired != SEC_E_OK) {
      throw SmtpFailure("this system offers no TLS: " + DescribeStatus(acquired));
    }
    target_ = Widen(host);
    Negotiate(Clock::now() + limit, "TLS handshake");
    PCCERT_CONTEXT sent = nullptr;
    if (QueryContextAttributesW(context_.Get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &sent) !=
            SEC_E_OK ||
        sent == nullptr) {
      Close();
      throw SmtpFailure("certificate verify failed: the server sent no certificate");
    }
    const CertificatePtr certificate(sent, CertFreeCertificateContext);
    const std::string problem = CheckCertificate(*certificate, host);
    if (!problem.empty()) {
      Close();
      throw SmtpFailure("certificate verify failed: " + problem);
    }
    const SECURITY_STATUS sized =
        QueryContextAttributesW(context_.Get(), SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (sized != SEC_E_OK) {
      Close();
      throw SmtpFailure("TLS handshake failed: " + DescribeStatus(sized));
    }
    secure_ = true;
  }

  bool Secure() const override { return secure_; }

  void Write(std::string_view bytes, milliseconds limit) override {
    if (!secure_) return AsioSocketTransport::Write(bytes, limit);
    const Clock::time_point deadline = Clock::now() + limit;
    std::string record;
    while (!bytes.empty()) {
      const size_t size = std::min<size_t>(bytes.size(), sizes_.cbMaximumMessage);
      record.assign(sizes_.cbHeader + size + sizes_.cbTrailer, '\0');
      char* at = record.data();
      std::memcpy(at + sizes_.cbHeader, bytes.data(), size);
      SecBuffer parts[4] = {
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, at},
          {static_cast<ULONG>(size), SECBUFFER_DATA, at + sizes_.cbHeader},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, at + sizes_.cbHeader + size},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc message{SECBUFFER_VERSION, 4, parts};
      const SECURITY_STATUS status = EncryptMessage(context_.Get(), 0, &message, 0);
      if (status != SEC_E_OK) {
        Close();
        throw SmtpFailure("TLS encryption failed: " + DescribeStatus(status));
      }
      AsioSocketTransport::Write(
          std::string_view(at, parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer),
          Left(deadline));
      bytes.remove_prefix(size);
    }
  }

  std::size_t ReadSome(char* buffer, std::size_t size, milliseconds limit,
                       const std::string& what) override {
    if (!secure_) return AsioSocketTransport::ReadSome(buffer, size, limit, what);
    const Clock::time_point deadline = Clock::now() + limit;
    while (plain_.empty()) {
      if (received_.empty() || !DecryptRecord(deadline, what)) Receive(deadline, what);
    }
    const size_t count = std::min(size, plain_.size());
    std::memcpy(buffer, plain_.data(), count);
    plain_.erase(0, count);
    return count;
  }

 private:
  asio::ip::tcp::socket& Socket() override { return socket_; }
  const asio::ip::tcp::socket& Socket() const override { return socket_; }

  // Appends what arrives first to `received_`.
  void Receive(Clock::time_point deadline, const std::string& what) {
    char chunk[16384];
    const size_t count = AsioSocketTransport::ReadSome(chunk, sizeof chunk, Left(deadline), what);
    received_.append(chunk, count);
  }

  // Runs the handshake from where it stands (the start, or a renegotiation the server asked
  // for) to its end, feeding SChannel what `received_` holds and what arrives.
  void Negotiate(Clock::time_point deadline, const std::string& what) {
    constexpr ULONG kWanted = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                              ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                              ISC_REQ_MANUAL_CRED_VALIDATION;
    for (;;) {
      const bool first = !context_.Valid();
      SecBuffer in[2] = {{static_cast<ULONG>(received_.size()), SECBUFFER_TOKEN, received_.data()},
                         {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc input{SECBUFFER_VERSION, 2, in};
      SspiBuffer token;
      SecBufferDesc output{SECBUFFER_VERSION, 1, &token.buffer};
      ULONG granted = 0;
      const SECURITY_STATUS status = InitializeSecurityContextW(
          credentials_.Get(), first ? nullptr : context_.Get(), target_.data(), kWanted, 0, 0,
          first ? nullptr : &input, 0, context_.Get(), &output, &granted, nullptr);
      if (first && !FAILED(status)) context_.MarkValid();
      if (status == SEC_E_INCOMPLETE_MESSAGE) {
        Receive(deadline, what);
        continue;
      }
      if (token.buffer.cbBuffer > 0 && token.buffer.pvBuffer != nullptr) {
        AsioSocketTransport::Write(std::string_view(static_cast<const char*>(token.buffer.pvBuffer),
                                                    token.buffer.cbBuffer),
                                   Left(deadline));
      }
      if (FAILED(status) || status == SEC_I_INCOMPLETE_CREDENTIALS) {
        Close();
        throw SmtpFailure(status == SEC_I_INCOMPLETE_CREDENTIALS
                              ? "TLS handshake failed: the server asks for a client certificate"
                              : "TLS handshake failed: " + DescribeStatus(status));
      }
      // What SChannel did not take belongs to the next message.
      if (!first && in[1].BufferType == SECBUFFER_EXTRA) {
        received_.erase(0, received_.size() - in[1].cbBuffer);
      } else if (!first) {
        received_.clear();
      }
      if (status == SEC_E_OK) return;
      if (received_.empty()) Receive(deadline, what);
    }
  }

  // Decrypts the first record of `received_` into `plain_`; false when it is not all there yet.
  bool DecryptRecord(Clock::time_point deadline, const std::string& what) {
    SecBuffer parts[4] = {{static_cast<ULONG>(received_.size()), SECBUFFER_DATA, received_.data()},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc message{SECBUFFER_VERSION, 4, parts};
    const SECURITY_STATUS status = DecryptMessage(context_.Get(), &message, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) return false;
    if (status == SEC_I_CONTEXT_EXPIRED) {
      Close();
      throw SmtpFailure(what + ": the server closed the connection");
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) {
      Close();
      throw SmtpFailure(what + ": TLS decryption failed: " + DescribeStatus(status));
    }
    std::string extra;
    for (const SecBuffer& part : parts) {
      const char* bytes = static_cast<const char*>(part.pvBuffer);
      if (part.BufferType == SECBUFFER_DATA) plain_.append(bytes, part.cbBuffer);
      if (part.BufferType == SECBUFFER_EXTRA) extra.assign(bytes, part.cbBuffer);
    }
    received_ = std::move(extra);
    // TLS 1.3 carries handshake messages after the handshake (new tickets, key updates).
    if (status == SEC_I_RENEGOTIATE) Negotiate(deadline, what);
    return true;
  }

  asio::ip::tcp::socket socket_{io_};
  Credentials credentials_;
  SecurityContext context_;
  std::wstring target_;
  SecPkgContext_StreamSizes sizes_{};
  std::string received_;  // bytes from the server not yet decrypted
  std::string plain_;     // decrypted bytes not yet read
  bool secure_ = false;
};

}  // namespace

std::unique_ptr<SmtpTransport> MakeSmtpTransport() { return std::make_unique<SchannelTransport>(); }

}  // namespace dv
