#pragma once
// The checks the installer asks of the program before it changes anything:
//   QyrDelay.exe --check-allow=<list>    is this a valid, non-empty AllowFrom list
//   QyrDelay.exe --check-folder=<path>   may anyone but administrators change a folder on the path
//   QyrDelay.exe --secure-folder=<path>  the same, taking over the QyrNOR folders it may take
//   QyrDelay.exe --check-power=<OffAt> [--days=<Days>] [--reboot-at=<RebootAt>]
//                                        would the [POWER] clock these make be valid
//   QyrDelay.exe --check-key=<key>       is this a hall key SignedBy can hold
//   QyrDelay.exe --check-ini=<file>      would the program take every entry of this settings file
// The value follows "=" in the same argument (quote it when it holds blanks). A check answers by
// its exit code and a line per finding on standard output; it opens no window, takes no mutex,
// opens no port and writes nothing but its answer.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qyr {

// Exit codes of a check.
inline constexpr int kCheckPassed = 0;
inline constexpr int kCheckRefused = 2;
inline constexpr int kCheckTakeOver = 3;  // --check-folder: only folders that may be taken over

enum class CheckMode { kNone, kAllow, kFolder, kSecureFolder, kPower, kKey, kIni, kUnknown };
enum class CheckArgsError { kNone, kUnknownCheck, kNoValue, kExtraArgument };

struct CheckRequest {
  CheckMode mode = CheckMode::kNone;  // kNone: the program runs as usual
  std::string value;                  // the list, the path or the OffAt time, as given
  // --check-power: the values after "--days=" and "--reboot-at=", when given (blank or not).
  std::optional<std::string> days;
  std::optional<std::string> reboot_at;
  CheckArgsError error = CheckArgsError::kNone;
  std::string bad_argument;
};

// The program's arguments after its own path. Only a first argument that starts with "--check-"
// or names a check asks for one; the program ignores any other arguments, as it always has.
// Only --check-power takes more: "--days=" and "--reboot-at=", each once, in any order.
CheckRequest ParseCheckRequest(const std::vector<std::string>& args);

struct CheckOutcome {
  int exit_code = kCheckPassed;
  std::vector<std::string> lines;
  std::vector<std::string> take_over;  // folders to take over (kCheckTakeOver)
};

// A usage error of the arguments, refused.
CheckOutcome ArgsErrorOutcome(const CheckRequest& request);

// --check-allow: a blank list is refused too, since the installer's option exists to restrict.
CheckOutcome CheckAllowList(std::string_view list);

// --check-power: whether OffAt with Days (none: every day) and RebootAt makes a clock the program
// accepts; the line names the bad key and entry. The installer passes the RebootAt and Days the
// settings file keeps, since the program reads them with OffAt. A blank OffAt or a blank Days
// given is refused: the installer's options exist to set them.
CheckOutcome CheckPowerClock(std::string_view off_at, std::optional<std::string_view> days,
                             std::string_view reboot_at);

// --check-key: a hall's public key as SignedBy holds it (130 hex digits, "04" first, a point of
// the curve).
CheckOutcome CheckHallKey(std::string_view key);

// --check-ini: a settings file prepared for a hall, as its bytes. Every entry the program reads
// must be one it takes as meant: no key or section of [AUTORUN], [REMOTE] or [POWER] given
// twice, paths it can start, delays and restart times that are whole numbers, and the
// [REMOTE] and [POWER] entries valid where given. The first bad entry is named.
CheckOutcome CheckSettingsFile(std::string_view text);

// The folders of a full path below its root, outermost first: "C:\a\b" gives "C:\a" and
// "C:\a\b"; the root is a drive ("C:\") or a share ("\\server\share\"), also after "\\?\".
// Empty when the path has no such root.
std::vector<std::string> FoldersBelowRoot(std::string_view path);

// The well-known accounts whose rights and ownership are never a reason to refuse.
inline constexpr const char* kSidAdministrators = "S-1-5-32-544";
inline constexpr const char* kSidSystem = "S-1-5-18";
inline constexpr const char* kSidTrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// One entry of a folder's access list, as the system lists it.
struct AccessEntry {
  enum class Kind { kAllow, kDeny, kOther };
  Kind kind = Kind::kAllow;
  bool inherit_only = false;  // applies to what is created inside, not to the folder
  std::uint32_t mask = 0;
  std::string sid;  // "S-1-5-32-545"
};

// What the system says about one folder of the path.
struct FolderFacts {
  std::string path;
  bool exists = false;
  bool is_folder = false;
  bool reparse_point = false;  // a junction or a link: where it leads can change
  unsigned long error = 0;     // a system error reading the attributes or the rights
  std::string owner;
  bool has_access_list = true;  // no list (a null DACL) gives everyone full control
  std::vector<AccessEntry> entries;
};

// Accounts trusted besides Administrators, SYSTEM and TrustedInstaller: the administrator running
// the check and the accounts the Administrators group lists (who may have made the folders of an
// earlier installation).
using TrustedSids = std::vector<std::string>;

// Who may change the folder (write, create, delete, rename, change its rights or owner) without
// being trusted, e.g. "Users (S-1-5-32-545)" or "its owner S-1-5-21-...". Empty when no one.
// Deny entries are not subtracted: a guard that errs refuses.
std::string OtherWriter(const FolderFacts& facts, const TrustedSids& trusted);

// Whether a folder the installer did not create may be taken over: its own name holds "QyrNOR"
// in any letter case.
bool MayTakeOver(std::string_view folder_path);

enum class FolderVerdict { kNew, kSafe, kTakeOver, kRefused };

struct FolderFinding {
  FolderVerdict verdict = FolderVerdict::kNew;
  std::string line;
};

FolderFinding JudgeFolder(const FolderFacts& facts, const TrustedSids& trusted);

// The path's verdict: refused when any folder is, else kCheckTakeOver when any folder is to be
// taken over, else passed; one line per folder. A path without a root is refused.
CheckOutcome JudgeFolders(std::string_view path, const std::vector<FolderFacts>& folders,
                          const TrustedSids& trusted);

// The line for one folder taken over: `error` is 0 when it was, else the system's error.
std::string TakeOverLine(std::string_view folder_path, unsigned long error);

// --secure-folder's answer once the folders are taken over: every line, and passed only when the
// path, judged again, passes.
CheckOutcome AfterTakeOver(CheckOutcome before, const CheckOutcome& after);

}  // namespace qyr
