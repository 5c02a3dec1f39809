// qyrsend: sends a command word to one or many QyrDelay PCs, as the hall's control system does.
#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "files.h"
#include "hall_key.h"
#include "net.h"
#include "sender.h"
#include "status.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

void Print(std::ostream& stream, const std::string& utf8) {
#ifdef _WIN32
  // A console shows UTF-16 right whatever its code page; pipes and files get UTF-8.
  HANDLE handle = GetStdHandle(&stream == &std::cerr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    stream.flush();
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                            static_cast<int>(wide.size()))));
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
#endif
  stream << utf8 << std::flush;
}

int Wake(const qyrsend::Options& options, const std::vector<std::string>& items) {
  std::string error;
  const std::optional<std::vector<qyrsend::Mac>> macs = qyrsend::MacsOf(items, error);
  if (!macs || macs->empty()) {
    Print(std::cerr, "qyrsend: " + (macs ? std::string("no MAC given") : error) + "\n");
    return qyrsend::kUsageExitCode;
  }
  qyrsend::net::Library library;
  const std::vector<std::string> errors =
      library.ok() ? qyrsend::WakeAll(*macs, options.broadcast, options.port, options.repeat,
                                      std::chrono::milliseconds(100))
                   : std::vector<std::string>(macs->size(), "not sent");
  Print(std::cout, qyrsend::WakeReport(*macs, errors));
  return qyrsend::WakeExitCode(errors);
}

int Keygen(const std::string& base) {
  const std::string private_path = base + ".key";
  const std::string public_path = base + ".pub";
  for (const std::string& path : {private_path, public_path}) {
    if (qyrsend::files::Exists(path)) {
      Print(std::cerr, "qyrsend: " + path + " exists already; keygen never overwrites a key\n");
      return qyrsend::kUsageExitCode;
    }
  }
  const std::optional<qyrsend::HallKey> key = qyrsend::GenerateHallKey();
  if (!key) {
    Print(std::cerr, "qyrsend: the system's cryptography made no key pair\n");
    return 1;
  }
  std::string error =
      qyrsend::files::WriteNew(private_path, qyrsend::PrivateKeyFileText(*key), true);
  if (error.empty()) {
    error =
        qyrsend::files::WriteNew(public_path, qyrsend::PublicKeyFileText(key->public_key), false);
    // Half a pair is no use, and would stop the next keygen.
    if (!error.empty()) qyrsend::files::Remove(private_path);
  }
  if (!error.empty()) {
    Print(std::cerr, "qyrsend: cannot write the key pair " + base + ".key/.pub: " + error + "\n");
    return 1;
  }
  Print(std::cout, private_path + "  the private key, readable by you only: keep it on this PC\n" +
                       public_path + "  the public key, for SignedBy= on every PC:\n" +
                       qyr::HexEncode(key->public_key) + "\n");
  return 0;
}

// The key pair in `path`, checked to be one; empty after saying why not.
std::optional<qyrsend::HallKey> LoadKey(const std::string& path) {
  std::string error;
  const std::optional<std::string> text =
      qyrsend::ReadTextFile(path, qyrsend::kMaxKeyFileBytes, error);
  if (!text) {
    Print(std::cerr, "qyrsend: " + error + "\n");
    return std::nullopt;
  }
  const std::optional<qyrsend::HallKey> key = qyrsend::ParsePrivateKeyFile(*text, error);
  if (!key) {
    Print(std::cerr, "qyrsend: " + path + " " + error + "\n");
    return std::nullopt;
  }
  // Lines from two pairs would sign what every PC refuses.
  constexpr std::string_view kProbe = "qyrsend key check";
  const std::optional<qyr::Signature> signature = qyrsend::Sign(*key, kProbe);
  if (!signature || !qyrsend::Verify(key->public_key, kProbe, *signature)) {
    Print(std::cerr,
          "qyrsend: " + path + " holds no key pair: its two keys do not belong together\n");
    return std::nullopt;
  }
  return key;
}

int Run(const std::vector<std::string>& args) {
  const qyrsend::ParsedArgs parsed = qyrsend::ParseArgs(args);
  if (!parsed.options) {
    Print(std::cerr, "qyrsend: " + parsed.error + "\n\n" + std::string(qyrsend::UsageText()));
    return qyrsend::kUsageExitCode;
  }
  const qyrsend::Options& options = *parsed.options;
  if (options.help) {
    Print(std::cout, std::string(qyrsend::UsageText()));
    return 0;
  }
  if (options.keygen) return Keygen(options.key_base);
  std::optional<qyrsend::HallKey> key;
  if (!options.key_file.empty() && !(key = LoadKey(options.key_file)))
    return qyrsend::kUsageExitCode;

  std::vector<std::string> items =
      options.wake ? qyrsend::SplitHosts(options.command) : options.hosts;
  // On the command line every item of --wake must be a MAC.
  for (const std::string& item : items) {
    if (options.wake && !qyrsend::ParseMac(item)) {
      Print(std::cerr, "qyrsend: malformed MAC " + item + "\n");
      return qyrsend::kUsageExitCode;
    }
  }
  if (!options.hosts_file.empty()) {
    std::string error;
    const std::optional<std::string> file =
        qyrsend::ReadTextFile(options.hosts_file, qyrsend::kMaxHostsFileBytes, error);
    if (!file) {
      Print(std::cerr, "qyrsend: " + error + "\n");
      return qyrsend::kUsageExitCode;
    }
    const std::string_view text = qyrsend::WithoutBom(*file);
    // A MAC written wrong would be taken for a host and skipped: the PC would stay asleep.
    if (const auto bad = options.wake ? qyrsend::BadWakeLine(text) : std::nullopt) {
      Print(std::cerr, "qyrsend: " + options.hosts_file + ", " + *bad + "\n");
      return qyrsend::kUsageExitCode;
    }
    for (std::string& host : qyrsend::SplitHosts(text)) {
      // A host line may carry the PC's MAC for --wake; it is no host to send a command to.
      if (options.wake || !qyrsend::LooksLikeMac(host)) items.push_back(std::move(host));
    }
  }
  if (options.wake) return Wake(options, items);
  if (items.empty()) {
    Print(std::cerr, "qyrsend: no host given\n");
    return qyrsend::kUsageExitCode;
  }

  std::vector<qyrsend::Target> targets;
  for (const std::string& item : items) {
    std::string error;
    auto target = qyrsend::ParseTarget(item, options.port, error);
    if (!target) {
      Print(std::cerr, "qyrsend: " + error + "\n");
      return qyrsend::kUsageExitCode;
    }
    targets.push_back(std::move(*target));
  }

  const std::string payload = options.command + (options.crlf ? "\r\n" : "");
  if (options.status) {
    const std::vector<qyrsend::Answer> answers = qyrsend::AskAll(
        targets, payload, qyrsend::Transport::Tcp, options.timeout_ms, qyrsend::ClassifyStatus);
    Print(std::cout, options.json ? qyrsend::StatusJson(targets, answers)
                                  : qyrsend::StatusReport(targets, answers));
    return qyrsend::StatusExitCode(answers);
  }
  const std::string_view line_end = options.crlf ? "\r\n" : "";
  const qyrsend::Dialogue dialogue =
      key ? qyrsend::SignedDialogue(*qyrsend::PowerCommandNamed(options.command), *key, line_end)
          : qyrsend::OneMessage(payload, qyrsend::RuleFor(options.command));
  std::vector<qyrsend::Outcome> outcomes;
  for (qyrsend::Answer& answer :
       qyrsend::AskAll(targets, dialogue, options.transport, options.timeout_ms))
    outcomes.push_back(std::move(answer.outcome));
  Print(std::cout, qyrsend::Report(targets, outcomes));
  return qyrsend::ExitCode(outcomes);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(static_cast<std::size_t>(bytes > 0 ? bytes : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), bytes, nullptr, nullptr);
    arg.resize(arg.size() - 1);  // the terminating zero
    args.push_back(std::move(arg));
  }
  return Run(args);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
