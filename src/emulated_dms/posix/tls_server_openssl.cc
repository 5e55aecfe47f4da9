// TlsServerContext over OpenSSL. The session talks to memory buffers, and
// this file moves their bytes over the NetConnection, so that every wait
// keeps the connection's time limit and stop signal.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <utility>

#include "emulated_dms/tls_server.h"

namespace vornlink {
namespace {

std::string TlsErrorText() {
  std::string text;
  while (unsigned long code = ERR_get_error()) {
    char line[256];
    ERR_error_string_n(code, line, sizeof line);
    if (!text.empty()) text += "; ";
    text += line;
  }
  return text.empty() ? "TLS failure" : text;
}

NetResult TlsError(const std::string& text) {
  NetResult result;
  result.status = NetStatus::kError;
  result.text = text;
  return result;
}

class TlsConnection : public NetConnection {
 public:
  TlsConnection(std::unique_ptr<NetConnection> raw, SSL* ssl) : raw_(std::move(raw)), ssl_(ssl) {
    incoming_ = BIO_new(BIO_s_mem());
    outgoing_ = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl_, incoming_, outgoing_);  // the session owns both now
    SSL_set_accept_state(ssl_);
  }
  ~TlsConnection() override { SSL_free(ssl_); }

  NetResult Handshake(const WaitLimit& limit) {
    for (;;) {
      ERR_clear_error();
      int result = SSL_do_handshake(ssl_);
      NetResult flushed = Flush(limit);
      if (result == 1) return flushed;
      if (!flushed.ok()) return flushed;
      if (SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ) return TlsError(TlsErrorText());
      NetResult filled = Fill(limit);
      if (filled.status == NetStatus::kClosed) return TlsError("the peer left the handshake");
      if (!filled.ok()) return filled;
    }
  }

  NetResult SendAll(std::string_view data, const WaitLimit& limit) override {
    while (!data.empty()) {
      ERR_clear_error();
      int written =
          SSL_write(ssl_, data.data(), static_cast<int>(std::min<size_t>(data.size(), 16384)));
      if (written <= 0) return TlsError(TlsErrorText());
      data.remove_prefix(static_cast<size_t>(written));
      NetResult flushed = Flush(limit);
      if (!flushed.ok()) return flushed;
    }
    return NetResult();
  }

  NetResult Receive(char* buffer, size_t capacity, size_t* received,
                    const WaitLimit& limit) override {
    *received = 0;
    for (;;) {
      ERR_clear_error();
      int got = SSL_read(ssl_, buffer, static_cast<int>(std::min<size_t>(capacity, 1 << 20)));
      if (got > 0) {
        *received = static_cast<size_t>(got);
        return NetResult();
      }
      int error = SSL_get_error(ssl_, got);
      if (error == SSL_ERROR_ZERO_RETURN) return Closed();
      if (error != SSL_ERROR_WANT_READ) return TlsError(TlsErrorText());
      NetResult flushed = Flush(limit);
      if (!flushed.ok()) return flushed;
      NetResult filled = Fill(limit);
      if (filled.status == NetStatus::kClosed) return Closed();
      if (!filled.ok()) return filled;
    }
  }

  void ShutdownSend() override {
    SSL_shutdown(ssl_);
    Flush(WaitLimit::After(std::chrono::milliseconds(1000), nullptr));
    raw_->ShutdownSend();
  }

  std::string PeerText() const override { return raw_->PeerText(); }

 private:
  static NetResult Closed() {
    NetResult result;
    result.status = NetStatus::kClosed;
    return result;
  }

  // Sends what the session has written.
  NetResult Flush(const WaitLimit& limit) {
    char chunk[16384];
    while (BIO_ctrl_pending(outgoing_) > 0) {
      int got = BIO_read(outgoing_, chunk, sizeof chunk);
      if (got <= 0) break;
      NetResult sent = raw_->SendAll(std::string_view(chunk, static_cast<size_t>(got)), limit);
      if (!sent.ok()) return sent;
    }
    return NetResult();
  }

  // Hands the next bytes from the peer to the session.
  NetResult Fill(const WaitLimit& limit) {
    char chunk[16384];
    size_t got = 0;
    NetResult received = raw_->Receive(chunk, sizeof chunk, &got, limit);
    if (!received.ok()) return received;
    BIO_write(incoming_, chunk, static_cast<int>(got));
    return received;
  }

  std::unique_ptr<NetConnection> raw_;
  SSL* ssl_;
  BIO* incoming_ = nullptr;
  BIO* outgoing_ = nullptr;
};

class OpenSslServerContext : public TlsServerContext {
 public:
  explicit OpenSslServerContext(SSL_CTX* context) : context_(context) {}
  ~OpenSslServerContext() override { SSL_CTX_free(context_); }

  NetResult Accept(std::unique_ptr<NetConnection> raw, const WaitLimit& limit,
                   std::unique_ptr<NetConnection>* secure) override {
    SSL* ssl = SSL_new(context_);
    if (ssl == nullptr) return TlsError(TlsErrorText());
    auto connection = std::make_unique<TlsConnection>(std::move(raw), ssl);
    NetResult shaken = connection->Handshake(limit);
    if (shaken.ok()) *secure = std::move(connection);
    return shaken;
  }

 private:
  SSL_CTX* context_;
};

}  // namespace

std::unique_ptr<TlsServerContext> TlsServerContext::Load(const std::string& certificate_file,
                                                         const std::string& key_file,
                                                         std::string* error) {
  ERR_clear_error();
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (context == nullptr) {
    *error = TlsErrorText();
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  if (SSL_CTX_use_certificate_chain_file(context, certificate_file.c_str()) != 1) {
    *error = "cannot use the certificate " + certificate_file + ": " + TlsErrorText();
  } else if (SSL_CTX_use_PrivateKey_file(context, key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
    *error = "cannot use the key " + key_file + ": " + TlsErrorText();
  } else if (SSL_CTX_check_private_key(context) != 1) {
    *error = "the key " + key_file + " does not belong to the certificate";
  } else {
    return std::make_unique<OpenSslServerContext>(context);
  }
  SSL_CTX_free(context);
  return nullptr;
}

}  // namespace vornlink
