#pragma once

#include <QLoggingCategory>

// Diagnostics of the device layer ("kalvessa.device"): warnings (a capture that cannot be opened)
// are on, the details (frames that went unanswered and the like) with
// QT_LOGGING_RULES="kalvessa.device.debug=true". Each program decides where they are written.
Q_DECLARE_LOGGING_CATEGORY(lcDevice)
