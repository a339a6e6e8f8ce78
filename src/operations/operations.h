// Named operations on one module: what the setup window's buttons, the main window's settings
// and the module's files do, each driven through the window models as a user would, with the
// module's answer checked. The commands, a profile restore and a run over many modules call
// them directly; none of them goes through a command line again.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "admin/firmware.h"
#include "app/system.h"

namespace zvk::ops {

// An operation that did not happen, or that the module did not acknowledge; what() says why in
// one line.
class OperationFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Everything one action sent and showed: connections opened, status texts, log lines, error boxes.
struct ExchangeRecord {
  int connects = 0;
  std::vector<std::string> statuses;
  std::vector<std::string> logs;
  std::vector<std::string> errors;
  std::vector<std::string> failures;  // texts of the failure boxes (a step not done)
  // One entry per file write: the file's name and whether the module acknowledged its announce.
  std::vector<std::pair<std::string, bool>> file_announces;
  bool sent() const { return connects > 0; }
};

// The run an operation works in: the system with its windows, opened on one module, and a way to
// see what an action sent and showed. The command line's session is one; a test or another
// front end may bring its own.
class Operator {
 public:
  virtual ~Operator() = default;
  virtual System& system() = 0;
  virtual App& app() = 0;
  virtual MainWindow& window() = 0;
  virtual SetupWindow& setup() = 0;
  // The main window's setup button, showing the setup window.
  virtual void OpenSetupWindow() = 0;
  // Runs a click or a tick and records what it sent and showed.
  virtual ExchangeRecord Observe(const std::function<void()>& action) = 0;
  // Throws the reason unless the action sent `code` and the module acknowledged it.
  virtual void RequireAcknowledged(const ExchangeRecord& record, std::uint8_t code,
                                   const std::string& what) = 0;
  // The caption and text of the last message box shown.
  virtual std::pair<std::string, std::string> LastBox() const = 0;
  // How many questions were answered No so far.
  virtual int Declined() const = 0;
  // The file the next file-open dialog picks.
  virtual void AnswerFileDialog(const std::string& path) = 0;
  // Why the main window's connection check found no module.
  virtual std::string NotFoundReason() const = 0;
};

// ---- the setup window (asks its own question first; files take effect at the restart) ----

void WriteLocation(Operator& op, const std::string& text);
// No key: an open access point (its key file is deleted).
void WriteAccessPoint(Operator& op, const std::string& ssid, const std::optional<std::string>& key);
enum class StationKeyType { Open, Wep, Wpa };
void WriteStation(Operator& op, const std::string& ssid, const std::string& key,
                  StationKeyType type);
// Addresses as typed into the window's boxes (IP, mask, gateway); none: static IP off.
void WriteStaticIp(Operator& op, const std::optional<std::array<std::string, 3>>& addresses);
// Port and idle timeout as typed into the window's boxes, which check them.
void WriteModbus(Operator& op, const std::string& port, const std::string& timeout);
// In effect at once.
void WriteWebKey(Operator& op, const std::string& key);
void SetWifiMode(Operator& op, bool access_point);
void ResetToDefaults(Operator& op);
// Never answered: done once it went out.
void Reboot(Operator& op);

// ---- the module's files (no identification needed) ----

// Writes `bytes` as the module file `name`; done once the module closed the content's connection.
// `repaint` is called where the window would redraw its gauge.
void WriteModuleFile(Operator& op, const std::string& name, std::span<const std::uint8_t> bytes,
                     const std::function<void()>& repaint = nullptr);
void DeleteModuleFile(Operator& op, const std::string& name);

// ---- the main window's settings (false: already so, nothing sent) ----

void SetRange(Operator& op, int channel, int code);
bool SetSampling(Operator& op, bool fast);
void SetSensor(Operator& op, int channel, std::uint8_t code);
bool SetUnit(Operator& op, int channel, bool fahrenheit);
bool SetOffset(Operator& op, int channel, int offset);

// ---- the calibration window and the firmware ----

// Picks the user curve (0 to 7) in the thermistor calibration window, types its three points
// (Hi, Mid, Low: whole degrees Celsius and ohms, as the window's boxes take them) and saves all
// eight curves; the module reloads them. False: saved, but the points admit no fit. The caller
// checks the model (the thermistor module).
struct TypedPoint {
  std::string degrees;
  std::string ohms;
};
bool SaveUserCurve(Operator& op, int curve, const std::array<TypedPoint, 3>& points);

// The setup window's firmware button with `image` as the chosen file. Returns once the module
// verified the image (FirmwareOutcome::Verified; the reboot may or may not have gone out) or
// took it staged, as a module of unknown model does (Staged); throws for every other outcome.
// `repaint` is called where the window redraws its gauge during the upload, `uploaded` once the
// upload is over, before the wait for the module's checksum.
FirmwareOutcome UpdateFirmware(Operator& op, const std::string& image,
                               const std::function<void()>& repaint = nullptr,
                               const std::function<void()>& uploaded = nullptr);

}  // namespace zvk::ops
