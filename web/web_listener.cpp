#include "web/web_listener.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <sys/socket.h>

#include <httplib.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace callsink {
namespace {

// A page is answered in milliseconds; a client that sends nothing for this
// long is dropped, so it cannot hold the one serving thread.
constexpr time_t kReadTimeoutSeconds = 5;
constexpr time_t kKeepAliveSeconds = 1;

// The library's reason for the latest failure, after `what`.
std::string OpenSslError(const std::string& what) {
  char text[256] = "unknown reason";
  if (const unsigned long code = ERR_get_error(); code != 0) {
    ERR_error_string_n(code, text, sizeof text);
  }
  ERR_clear_error();
  return what + ": " + text;
}

// Sets up `context` as `tls` says; false with the reason in `error`.
bool SetUpTls(SSL_CTX& context, const WebConfig::Tls& tls, std::string* error) {
  using ClientAuth = WebConfig::ClientAuth;
  SSL_CTX_set_min_proto_version(&context, tls.min_version);
  SSL_CTX_set_max_proto_version(&context, tls.max_version);
  SSL_CTX_set_options(&context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
  if (tls.prefer_server_ciphers) SSL_CTX_set_options(&context, SSL_OP_CIPHER_SERVER_PREFERENCE);
  if (SSL_CTX_use_certificate_chain_file(&context, tls.cert_file.c_str()) != 1) {
    *error = OpenSslError("cert_file " + tls.cert_file);
    return false;
  }
  // Loaded after the certificate, the key is also checked against it.
  if (SSL_CTX_use_PrivateKey_file(&context, tls.key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
    *error = OpenSslError("key_file " + tls.key_file);
    return false;
  }
  if (!tls.client_ca_file.empty()) {
    STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(tls.client_ca_file.c_str());
    if (names == nullptr ||
        SSL_CTX_load_verify_locations(&context, tls.client_ca_file.c_str(), nullptr) != 1) {
      if (names != nullptr) sk_X509_NAME_pop_free(names, X509_NAME_free);
      *error = OpenSslError("client_ca_file " + tls.client_ca_file);
      return false;
    }
    SSL_CTX_set_client_CA_list(&context, names);
  } else if (tls.client_auth == ClientAuth::kVerifyIfGiven ||
             tls.client_auth == ClientAuth::kRequireAndVerify) {
    SSL_CTX_set_default_verify_paths(&context);
  }
  // Certificates that are asked for but not verified are taken as they come.
  const auto take_any = [](int, X509_STORE_CTX*) { return 1; };
  switch (tls.client_auth) {
    case ClientAuth::kNone:
      SSL_CTX_set_verify(&context, SSL_VERIFY_NONE, nullptr);
      break;
    case ClientAuth::kRequest:
      SSL_CTX_set_verify(&context, SSL_VERIFY_PEER, take_any);
      break;
    case ClientAuth::kRequireAny:
      SSL_CTX_set_verify(&context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, take_any);
      break;
    case ClientAuth::kVerifyIfGiven:
      SSL_CTX_set_verify(&context, SSL_VERIFY_PEER, nullptr);
      break;
    case ClientAuth::kRequireAndVerify:
      SSL_CTX_set_verify(&context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
      break;
  }
  return true;
}

}  // namespace

WebListener::WebListener(const WebSite& site, const WebConfig& config)
    : site_(site), config_(config), auth_(config.users) {}

WebListener::~WebListener() { Stop(); }

bool WebListener::MakeServer(std::string* error) {
  if (!config_.tls) {
    server_ = std::make_unique<httplib::Server>();
    return true;
  }
  const WebConfig::Tls& tls = *config_.tls;
  auto server = std::make_unique<httplib::SSLServer>(
      [&tls, error](SSL_CTX& context) { return SetUpTls(context, tls, error); });
  if (!server->is_valid()) {
    if (error->empty()) *error = OpenSslError("TLS");
    return false;
  }
  server_ = std::move(server);
  return true;
}

void WebListener::AddRoutes() {
  server_->new_task_queue = [threads = site_.serving_threads] {
    return new httplib::ThreadPool(threads);
  };
  server_->set_read_timeout(kReadTimeoutSeconds);
  // An idle kept-alive connection holds up Stop until its time is over.
  server_->set_keep_alive_timeout(kKeepAliveSeconds);
  if (!site_.keep_alive) server_->set_keep_alive_max_count(1);
  // The library's default also sets SO_REUSEPORT, which would let a second
  // program listen on the same port and answer every other request. Only
  // SO_REUSEADDR stays, so that a restart listens again at once.
  server_->set_socket_options([](int socket_fd) {
    const int on = 1;
    setsockopt(socket_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  });
  httplib::Headers headers;
  for (const auto& [name, value] : config_.headers) headers.emplace(name, value);
  server_->set_default_headers(std::move(headers));
  if (auth_.required()) {
    server_->set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
          if (auth_.Allows(request.get_header_value("Authorization"))) {
            return httplib::Server::HandlerResponse::Unhandled;
          }
          response.status = 401;
          response.set_header("WWW-Authenticate", "Basic");
          response.set_content("Unauthorized\n", "text/plain; charset=utf-8");
          return httplib::Server::HandlerResponse::Handled;
        });
  }
  bool own_landing_page = false;
  for (const WebRoute& route : site_.routes) {
    own_landing_page = own_landing_page || route.path == "/";
    server_->Get(route.path,
                 [&route](const httplib::Request& request, httplib::Response& response) {
                   if (!route.answer) {
                     response.set_content(route.body(), route.content_type);
                     return;
                   }
                   WebRequest asked;
                   asked.params.insert(request.params.begin(), request.params.end());
                   for (const auto& [name, value] : request.headers) {
                     std::string lower = name;
                     for (char& c : lower)
                       c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                     asked.headers.emplace(std::move(lower), value);
                   }
                   WebAnswer answer = route.answer(asked);
                   response.status = answer.status;
                   for (const auto& [name, value] : answer.headers)
                     response.set_header(name, value);
                   if (!answer.body.empty() || !answer.content_type.empty()) {
                     response.set_content(std::move(answer.body), answer.content_type);
                   }
                 });
  }
  if (own_landing_page) return;
  server_->Get("/", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(site_.LandingPage(), "text/html; charset=utf-8");
  });
}

bool WebListener::Start(const std::string& host, int port, std::string* error) {
  error->clear();
  if (!MakeServer(error)) {
    server_.reset();
    return false;
  }
  AddRoutes();
  errno = 0;
  const bool bound =
      port == 0 ? (port_ = server_->bind_to_any_port(host)) > 0 : server_->bind_to_port(host, port);
  if (!bound) {
    *error = errno != 0 ? std::strerror(errno) : "cannot listen there";
    server_.reset();
    port_ = 0;
    return false;
  }
  if (port != 0) port_ = port;
  listen_returned_ = false;
  thread_ = std::thread([this, server = server_.get()] {
    server->listen_after_bind();
    listen_returned_ = true;
  });
  pthread_setname_np(thread_.native_handle(), "web");
  return true;
}

void WebListener::Stop() {
  if (!server_) return;
  // The library's stop does nothing until its listen loop runs: a stop
  // right after the start would leave the thread in accept for ever.
  while (!server_->is_running() && !listen_returned_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  server_->stop();
  thread_.join();
  server_.reset();
}

}  // namespace callsink
