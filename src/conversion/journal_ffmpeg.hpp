#pragma once

namespace conversion {

// Sends libav* log records (warnings and worse) to the logging facade instead of standard
// error, whose lines belong to the program. Idempotent, thread-safe.
void router_journal_ffmpeg();

}  // namespace conversion
