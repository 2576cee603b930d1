// The ways a JSON text can fail to read, with the texts ParseJson reports.
#pragma once

namespace Tesk {

enum class JsonSyntaxError : unsigned char {
  None,
  DocumentEmpty,
  RootNotSingular,
  ValueInvalid,
  ObjectMissName,
  ObjectMissColon,
  ObjectMissCommaOrCurlyBracket,
  ArrayMissCommaOrSquareBracket,
  UnicodeEscapeInvalidHex,
  UnicodeSurrogateInvalid,
  EscapeInvalid,
  MissQuotationMark,
  InvalidEncoding,
  NumberTooBig,
  NumberMissFraction,
  NumberMissExponent,
  TooDeep,
  // The sink refused to go on (a structure named a member twice).
  Stopped,
};

// The message of `error` (a sentence ending in a full stop).
const char* JsonSyntaxErrorText(JsonSyntaxError error);

}  // namespace Tesk
