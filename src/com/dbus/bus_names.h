#pragma once

#include <string_view>

// Names and paths of org.dovel.Dovel.xml, the contract of the bus objects.
namespace dovel::com::dbus {

inline constexpr const char* kBusName = "org.dovel.Dovel";
inline constexpr const char* kFactoryPath = "/org/dovel/Dovel";
// A queue object's path is this followed by its number, from 1.
inline constexpr std::string_view kQueuePathPrefix = "/org/dovel/Dovel/clsMsgQueue/";

inline constexpr const char* kNotOwnerError = "org.dovel.Dovel.Error.NotOwner";
inline constexpr const char* kNoSuchObjectError = "org.dovel.Dovel.Error.NoSuchObject";
inline constexpr const char* kExitingError = "org.dovel.Dovel.Error.Exiting";
inline constexpr const char* kFailedError = "org.dovel.Dovel.Error.Failed";

}  // namespace dovel::com::dbus
