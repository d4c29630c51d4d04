#pragma once

namespace dovel::demo {

// A live conversation on the built-in defaults: a queue object in this
// process, messages posted by a second process, every event printed with
// the time since the start. Returns 0 when the whole conversation ran.
int RunConversation();

}  // namespace dovel::demo
