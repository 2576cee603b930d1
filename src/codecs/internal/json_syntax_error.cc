#include "codecs/internal/json_syntax_error.h"

namespace Tesk {

const char* JsonSyntaxErrorText(JsonSyntaxError error) {
  switch (error) {
    case JsonSyntaxError::None:
      return "No error.";
    case JsonSyntaxError::DocumentEmpty:
      return "The document is empty.";
    case JsonSyntaxError::RootNotSingular:
      return "The document root must not be followed by other values.";
    case JsonSyntaxError::ValueInvalid:
      return "Invalid value.";
    case JsonSyntaxError::ObjectMissName:
      return "Missing a name for object member.";
    case JsonSyntaxError::ObjectMissColon:
      return "Missing a colon after a name of object member.";
    case JsonSyntaxError::ObjectMissCommaOrCurlyBracket:
      return "Missing a comma or '}' after an object member.";
    case JsonSyntaxError::ArrayMissCommaOrSquareBracket:
      return "Missing a comma or ']' after an array element.";
    case JsonSyntaxError::UnicodeEscapeInvalidHex:
      return "Incorrect hex digit after \\u escape in string.";
    case JsonSyntaxError::UnicodeSurrogateInvalid:
      return "The surrogate pair in string is invalid.";
    case JsonSyntaxError::EscapeInvalid:
      return "Invalid escape character in string.";
    case JsonSyntaxError::MissQuotationMark:
      return "Missing a closing quotation mark in string.";
    case JsonSyntaxError::InvalidEncoding:
      return "Invalid encoding in string.";
    case JsonSyntaxError::NumberTooBig:
      return "Number too big to be stored in double.";
    case JsonSyntaxError::NumberMissFraction:
      return "Miss fraction part in number.";
    case JsonSyntaxError::NumberMissExponent:
      return "Miss exponent in number.";
    case JsonSyntaxError::TooDeep:
      return "The document is nested too deeply.";
    case JsonSyntaxError::Stopped:
      return "Terminate parsing due to Handler error.";
  }
  return "Unknown error.";
}

}  // namespace Tesk
