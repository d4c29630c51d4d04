#pragma once

namespace dovel::demo {

// A live conversation on the built-in defaults: a queue object held by
// dovel-server on the session bus (the bus starts the server), messages
// posted by a second process, every event printed with the time since the
// start as its signal arrives. Returns 0 when the whole conversation ran.
int RunConversation();

}  // namespace dovel::demo
