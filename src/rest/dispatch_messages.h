// The failure texts of incoming request dispatch, positional ("%1", "%2", "%3").
#pragma once

namespace Tesk::DispatchMessages {

inline constexpr char kInvalidFunction[] = "Invalid function";
inline constexpr char kUnknownArgument[] = "Unknown argument '%1' for '%2'.";
inline constexpr char kInvalidLocation[] =
    "Argument '%1' for '%2' was specified in an invalid location.";
inline constexpr char kExpectedValue[] = "Expected value for argument '%1'.";
inline constexpr char kIndexFormat[] = "Index %1 is in an incorrect format";
inline constexpr char kIndexRange[] = "Index %1 is out of range";
inline constexpr char kPathTooDeep[] = "Argument '%1' for '%2' is nested too deeply.";
inline constexpr char kTooManyElements[] =
    "Index %1 of argument '%2' for '%3' needs more elements than one request may create.";
inline constexpr char kJsonValue[] =
    "Couldn't deserialize JSON value for parameter '%1' of '%2': %3";
inline constexpr char kYamlValue[] =
    "Couldn't deserialize YAML value for parameter '%1' of '%2': %3";
inline constexpr char kMessagePackValue[] =
    "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3";
inline constexpr char kUnsupportedBody[] = "Unsupported body content type";
inline constexpr char kExtraMessagePack[] = "Extra MessgePack data found in body";
// A value that would reach the handler as another one; answered with status 400.
inline constexpr char kNulCharacter[] = "Argument '%1' for '%2' contains a NUL character.";
inline constexpr char kTruncatedMessagePack[] =
    "Argument '%1' for '%2' ends inside a MessagePack array or map.";
inline constexpr char kRequestFailed[] = "The request failed: %1";

}  // namespace Tesk::DispatchMessages
