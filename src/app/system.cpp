#include "app/system.h"

#include "admin/replies.h"
#include "calibration/replies.h"

namespace zvk {

System::System(Seams seams) : app(seams), main_window(app), setup_window(app) {
  setup_window.FormCreate();
  main_window.RegisterReplyHandlers();
  RegisterAdminReplies(app);
  RegisterCalibrationReplies(app);
}

}  // namespace zvk
