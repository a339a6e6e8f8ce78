#include "app/system.h"

#include "admin/replies.h"
#include "calibration/replies.h"

namespace zvk {

System::System(Seams seams) : app(seams), main_window(app), setup_window(app), firmware(app) {
  setup_window.FormCreate();
  setup_window.run_firmware_update = [this] { firmware.Run(); };
  main_window.RegisterReplyHandlers();
  RegisterAdminReplies(app);
  firmware.Register();
  RegisterCalibrationReplies(app);
}

}  // namespace zvk
