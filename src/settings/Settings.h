#pragma once
// Program-wide settings (Ftp.ini) and the current connection profile (User.ini).

#include <string>
#include <vector>

namespace oxlip {

// How a profile's connection is protected ("Encryption" in User.ini).
enum EncryptionMode : int {
    EncryptIfAvailable = 0, // explicit TLS (AUTH TLS), plain when the server refuses it
    EncryptRequired = 1,    // explicit TLS or no login
    EncryptImplicit = 2,    // TLS from the first byte
    EncryptNone = 3,        // plain FTP
};

// How the host's names are encoded ("NameEncoding" in User.ini).
enum NameEncodingMode : int { NamesAuto = 0, NamesUtf8 = 1, NamesCp932 = 2, NamesEucJp = 3 };

constexpr int kDefaultFtpPort = 21;
constexpr int kDefaultImplicitTlsPort = 990;
constexpr int kDefaultKeepAliveSeconds = 60;
constexpr int kMaxKeepAliveSeconds = 86400;
// Connections a folder tree is moved over ("Parallel" in Ftp.ini): the session's own and up to
// seven more.
constexpr int kMaxParallel = 8;

struct ConnectionProfile {
    std::string ProfileName;
    std::string Server;
    std::string UserName;
    std::string PassWord; // plain text in memory
    std::string Dir;      // host start folder
    std::string LDir;     // local start folder
    int TransMode = 0;    // the mode list: 0 automatic, 1 ASCII, 2 binary, -1 no selection
    std::string LastPathLocal;
    std::string LastPathHost;
    // Connection options; a User.ini without their keys gives these defaults.
    int Encryption = EncryptIfAvailable; // EncryptionMode
    int Port = 0;                        // 0: the default for the encryption (see EffectivePort)
    bool Passive = true;                 // false: active mode
    int NameEncoding = NamesAuto;        // NameEncodingMode
    int KeepAlive = kDefaultKeepAliveSeconds; // seconds between NOOPs while idle, 0 off
};

// The port to connect to: the profile's own, else 990 for implicit TLS and 21 otherwise.
int EffectivePort(const ConnectionProfile& profile);

// The main window's outer placement in twips (15 twips a pixel). The core reads and writes
// the numbers; the window applies them.
struct WindowPlacement {
    virtual ~WindowPlacement() = default;
    // Normal state: position and outer size.
    virtual void setPlacement(float left, float top, float width, float height) = 0;
    // Minimised or maximised state saved: only the size is set, the position stays.
    virtual void setSizeOnly(float width, float height) = 0;
    virtual void setWindowState(int state) = 0; // 0 normal, 2 maximised
    virtual float left() const = 0;
    virtual float top() const = 0;
    virtual float width() const = 0;
    virtual float height() const = 0;
    virtual int windowState() const = 0; // 0 normal, 1 minimised, 2 maximised
};

constexpr float kDefaultWindowWidthTwips = 10620;
constexpr float kDefaultWindowHeightTwips = 5790;

// All settings state, owned by the application and handed to the window and the dialogs by
// reference. The folder holds Ftp.ini and User.ini.
class Settings {
public:
    explicit Settings(std::string folder);

    const std::string& folder() const { return folder_; }
    std::string ftpIniPath() const;  // folder + "/Ftp.ini"
    std::string userIniPath() const; // folder + "/User.ini"

    ConnectionProfile profile;
    bool ListCache = true;
    int Parallel = 1; // 1 to kMaxParallel
    std::vector<std::string> AsciiExtensionList;

    void LoadAsciiExtensions();
    // Returns false when the list could not be written completely.
    bool SaveAsciiExtensions();
    void SetDefaultAsciiExtensions();
    void LoadAppSettings(WindowPlacement* window);
    bool SaveAppSettings(const WindowPlacement* window);
    void LoadProfile();
    bool SaveProfile();
    // Removes every section of that name from User.ini (a missing file is fine); when it is
    // the current profile, no profile is current any more. False when the file could not be
    // rewritten (nothing changes then).
    bool DeleteProfile(const std::string& name);
    // The data side of the profile list: the section names of User.ini in file order
    // (duplicates kept); nullopt-like empty result with exists=false when User.ini is missing.
    std::vector<std::string> ProfileNames(bool* exists = nullptr) const;

private:
    std::string folder_;
};

// Byte-wise password scrambling: each UTF-8 byte as three decimal digits, then three filler
// characters from a pseudo-random source. Unscrambling gives the empty password for text
// that does not decode.
std::string ScramblePassword(const std::string& password);
std::string UnscramblePassword(const std::string& scrambled);

// The settings folder: the program's folder when Ftp.ini or User.ini is there and writable,
// otherwise $XDG_CONFIG_HOME/oxlip (default ~/.config/oxlip), created when missing.
std::string ChooseSettingsFolder(const std::string& programFolder);

// The built-in ASCII extensions, in order.
const std::vector<std::string>& DefaultAsciiExtensions();

} // namespace oxlip
