#include "http/interop/HttpPeers.h"

#include <pwd.h>
#include <unistd.h>

namespace vt::test {

namespace {

// The system's interpreter, not a per-user shim that may start slowly or not at all.
std::string Python3() {
    const std::string system = FindProgram("/usr/bin/python3");
    return system.empty() ? FindProgram("python3") : system;
}

// A configuration file, one line at a time.
struct TConfig {
    std::string Text;
    void Add(const std::string& line) { Text += line + "\n"; }
};

const std::string EchoModule = "/usr/lib/nginx/modules/ngx_http_echo_module.so";

// squid started as root drops to "proxy", which must own its folder.
bool GiveToProxyUser(const std::string& dir) {
    if (::geteuid() != 0) return true;
    const passwd* pw = ::getpwnam("proxy");
    return !pw || ::chown(dir.c_str(), pw->pw_uid, pw->pw_gid) == 0;
}

} // namespace

THttpPeer::THttpPeer() : Dir(MakeTempDir("vt-http")), Port(FreeTcpPort()) {}

THttpPeer::~THttpPeer() {
    Stop();
    RemoveTree(Dir);
}

std::string THttpPeer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + PortText() + path;
}

std::string THttpPeer::Logs() const {
    return Process.Log();
}

void THttpPeer::Stop() {
    Process.Stop(FStopSignal);
}

std::string THttpPeer::Launch(const std::vector<std::string>& argv, const std::string& name) {
    try {
        Process.Start(argv, Dir + "/" + name + ".out");
    } catch (const std::exception& e) {
        return name + " did not start: " + e.what();
    }
    if (!WaitForTcpPort(Port, HttpPeerStartMs))
        return name + " is not listening on " + PortText() + "; its logs:\n" + Logs();
    return {};
}

TNginxPeer::TNginxPeer() : SecondPort(FreeTcpPort()) {
    while (SecondPort == Port)
        SecondPort = FreeTcpPort();
}

std::string TNginxPeer::Start(const std::string& docRoot, const std::string& locations) {
    const std::string nginx = FindProgram("nginx");
    if (nginx.empty()) return "missing";
    TConfig conf;
    if (HasEchoModule()) conf.Add("load_module " + EchoModule + ";");
    // As root the workers stay root, so they can read the private folders.
    if (::geteuid() == 0) conf.Add("user root root;");
    conf.Add("daemon off;");
    conf.Add("worker_processes 1;");
    // Every path nginx writes lies in Dir, or a start without the system folders fails.
    conf.Add("pid " + Dir + "/nginx.pid;");
    conf.Add("error_log " + Dir + "/error.log;");
    conf.Add("events { worker_connections 64; }");
    conf.Add("http {");
    conf.Add("  access_log " + Dir + "/access.log;");
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf.Add(std::string("  ") + temp + "_temp_path " + Dir + "/" + temp + ";");
    conf.Add("  default_type application/octet-stream;");
    conf.Add("  server {");
    conf.Add("    listen 127.0.0.1:" + PortText() + ";");
    conf.Add("    root " + docRoot + ";");
    conf.Text += locations;
    conf.Add("  }");
    conf.Add("  server {");
    conf.Add("    listen 127.0.0.1:" + std::to_string(SecondPort) + ";");
    conf.Add("    root " + docRoot + ";");
    conf.Add("  }");
    conf.Add("}");
    WriteFile(Dir + "/nginx.conf", conf.Text);
    std::string failure = Launch({nginx, "-p", Dir, "-c", Dir + "/nginx.conf"}, "nginx");
    if (failure.empty() && !WaitForTcpPort(SecondPort, HttpPeerStartMs))
        failure = "nginx is not listening on its second port; its logs:\n" + Logs();
    return failure;
}

bool TNginxPeer::HasEchoModule() {
    return ::access(EchoModule.c_str(), R_OK) == 0;
}

std::string TNginxPeer::Url2(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(SecondPort) + path;
}

std::string TNginxPeer::Logs() const {
    return Process.Log() + ReadFile(Dir + "/error.log");
}

std::string TPythonHttpPeer::Start(const std::string& docRoot) {
    const std::string python = Python3();
    if (python.empty()) return "missing";
    return Launch(
        {python, "-m", "http.server", PortText(), "--bind", "127.0.0.1", "--directory", docRoot},
        "python-http");
}

std::string TSquidPeer::Start() {
    const std::string squid = FindProgram("squid");
    if (squid.empty()) return "missing";
    if (!GiveToProxyUser(Dir)) return "cannot hand " + Dir + " to user proxy";
    TConfig conf;
    conf.Add("http_port 127.0.0.1:" + PortText());
    conf.Add("pid_filename " + Dir + "/squid.pid");
    conf.Add("cache_log " + Dir + "/cache.log");
    conf.Add("access_log stdio:" + Dir + "/access.log");
    conf.Add("cache_store_log none");
    conf.Add("coredump_dir " + Dir);
    conf.Add("visible_hostname x");
    conf.Add("cache deny all");
    conf.Add("pinger_enable off");
    // Names are never looked up beyond loopback.
    conf.Add("dns_nameservers 127.0.0.1");
    conf.Add("dns_timeout 2 seconds");
    conf.Add("udp_incoming_address 127.0.0.1");
    conf.Add("udp_outgoing_address 127.0.0.1");
    conf.Add("shutdown_lifetime 1 seconds");
    conf.Add("http_access allow localhost");
    conf.Add("http_access deny all");
    WriteFile(Dir + "/squid.conf", conf.Text);
    return Launch({squid, "-N", "-f", Dir + "/squid.conf"}, "squid");
}

std::string TSquidPeer::AccessLog() const {
    return ReadFile(Dir + "/access.log");
}

std::string TSquidPeer::Logs() const {
    return Process.Log() + ReadFile(Dir + "/cache.log");
}

std::string TTinyproxyPeer::Start(const std::string& user, const std::string& password) {
    const std::string tinyproxy = FindProgram("tinyproxy");
    if (tinyproxy.empty()) return "missing";
    TConfig conf;
    conf.Add("Port " + PortText());
    conf.Add("Listen 127.0.0.1");
    conf.Add("Allow 127.0.0.1");
    conf.Add("PidFile \"" + Dir + "/tinyproxy.pid\"");
    conf.Add("LogFile \"" + Dir + "/tinyproxy.log\"");
    conf.Add("LogLevel Info"); // logs each request line as it arrived
    conf.Add("MaxClients 20");
    conf.Add("Timeout 30");
    if (!user.empty()) conf.Add("BasicAuth " + user + " " + password);
    WriteFile(Dir + "/tinyproxy.conf", conf.Text);
    return Launch({tinyproxy, "-d", "-c", Dir + "/tinyproxy.conf"}, "tinyproxy");
}

std::string TTinyproxyPeer::Logs() const {
    return Process.Log() + ReadFile(Dir + "/tinyproxy.log");
}

} // namespace vt::test
