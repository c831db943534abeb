// The lenient JSON parser: a state machine that examines one UTF-16 code
// unit at a time. Each level of the tokenizer's stack builds one value; a
// container pushes a level for each of its members and takes the completed
// value back when that level pops.

#include "json/json_tokenizer.hpp"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string_view>

namespace marquo {
namespace {

using S = JsonParseState;
using E = JsonParseError;

bool IsWhitespace(char16_t c) {
  // Backspace counts as whitespace here; vertical tab does not.
  return c == 0x08 || c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20;
}

bool IsReserved(char16_t c) {
  switch (c) {
  case 0x00:
  case 0x08:
  case 0x09:
  case 0x0A:
  case 0x0C:
  case 0x0D:
  case u' ':
  case u'"':
  case u'(':
  case u')':
  case u',':
  case u'.':
  case u':':
  case u'[':
  case u']':
  case u'{':
  case u'}':
    return true;
  default:
    return false;
  }
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The units that keep a literal going as a word: "nullx" is a word, while
// "null1" is null followed by other text.
bool IsNameChar(char16_t c) {
  return c == u'.' || c == u'_' || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool IsNumberChar(char16_t c) {
  return IsDigit(c) || c == u'+' || c == u'-' || c == u'.' || c == u'E' || c == u'e';
}

int HexValue(char16_t c) {
  if (IsDigit(c))
    return c - u'0';
  if (c >= u'A' && c <= u'F')
    return c - u'A' + 10;
  if (c >= u'a' && c <= u'f')
    return c - u'a' + 10;
  return -1;
}

// An optional sign, then the run of digits that follows; whatever comes after
// the run is ignored, so "1-2" reads as 1 and "-" as 0. Runs beyond the
// 64-bit range saturate at its ends instead of wrapping.
std::int64_t ReadInteger(std::u16string_view aText) {
  std::size_t i = 0;
  bool negative = false;
  if (i < aText.size() && (aText[i] == u'-' || aText[i] == u'+')) {
    negative = aText[i] == u'-';
    ++i;
  }
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  std::uint64_t magnitude = 0;
  for (; i < aText.size() && IsDigit(aText[i]); ++i) {
    const auto digit = static_cast<std::uint64_t>(aText[i] - u'0');
    magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
  }
  if (!negative)
    return static_cast<std::int64_t>(magnitude);
  return magnitude == limit ? std::numeric_limits<std::int64_t>::min()
                            : -static_cast<std::int64_t>(magnitude);
}

std::int64_t SaturatingScale(std::int64_t aValue, int aPowerOfTen) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  for (int i = 0; i < aPowerOfTen; ++i) {
    if (aValue > kMax / 10)
      return kMax;
    if (aValue < kMin / 10)
      return kMin;
    aValue *= 10;
  }
  return aValue;
}

// The nearest double to the longest decimal literal at the start of the
// token. A token that starts with none ("-e5") is 0; one beyond the range of
// doubles is the largest finite value of its sign, so its text form reads
// back as the same value.
double ReadDouble(std::u16string_view aText) {
  // Number tokens hold only ASCII units.
  std::string ascii(aText.size(), '\0');
  std::transform(aText.begin(), aText.end(), ascii.begin(),
                 [](char16_t c) { return static_cast<char>(c); });
  double value = 0;
  const auto result = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (result.ec == std::errc::invalid_argument)
    return 0;
  if (result.ec == std::errc::result_out_of_range) {
    // from_chars leaves the value unset; strtod tells overflow (infinity)
    // from underflow (zero or a subnormal). The token is never a hexadecimal
    // or "inf" literal, and this program keeps the "C" number locale.
    ascii.resize(static_cast<std::size_t>(result.ptr - ascii.data()));
    value = std::strtod(ascii.c_str(), nullptr);
    if (std::isinf(value))
      value = std::copysign(DBL_MAX, value);
  }
  return value;
}

JsonValuePtr MakeNumber(std::u16string_view aText, int anIsDouble, int aFloatCount) {
  if (anIsDouble == 0)
    return JsonValue::NewInt(ReadInteger(aText));
  if (aFloatCount >= 0) {
    // The digits before the first point and the counted digits after it,
    // read as one integer of 1/10000 units.
    const std::size_t point = aText.find(u'.');
    std::u16string digits(aText.substr(0, point));
    if (point != std::u16string_view::npos)
      digits.append(aText.substr(point + 1, static_cast<std::size_t>(aFloatCount)));
    return JsonValue::NewCurrency(SaturatingScale(ReadInteger(digits), 4 - aFloatCount));
  }
  return JsonValue::NewDouble(ReadDouble(aText));
}

enum class Step { Consume, Reexamine, Fail, Stop };

} // namespace

JsonValuePtr JsonValue::ParseEx(JsonTokenizer &t, std::u16string_view aText,
                                const JsonValue *aReceiver) {
  t.depth = 0;
  t.stack[0].Reset();
  t.err = E::teSuccess;
  t.char_offset = 0;
  t.completed.reset();

  // The text ends at its first U+0000; past the end, U+0000 is what is seen.
  const auto unitAt = [&](std::size_t anOffset) -> char16_t {
    return anOffset < aText.size() ? aText[anOffset] : u'\0';
  };

  for (;;) {
    const char16_t c = unitAt(t.char_offset);
    JsonParseLevel &level = t.stack[static_cast<std::size_t>(t.depth)];
    // Member lookup: a name at the top level is looked up in the receiver
    // instead of becoming a string value.
    const JsonValue *receiver = t.depth == 0 ? aReceiver : nullptr;

    const auto complete = [&](JsonValuePtr aValue) {
      level.current = std::move(aValue);
      level.saved_state = S::tsFinish;
      level.state = S::tsEatws;
    };
    const auto fail = [&](E anError) {
      t.err = anError;
      return Step::Fail;
    };
    const auto push = [&] {
      ++t.depth;
      t.stack[static_cast<std::size_t>(t.depth)].Reset();
      return Step::Reexamine;
    };
    // Where an unquoted value ends depends on the container around it.
    const auto isValueEnd = [&] {
      if (c == u'\0')
        return true;
      if (t.depth == 0)
        return false;
      const S outer = t.stack[static_cast<std::size_t>(t.depth - 1)].state;
      if (outer == S::tsArrayAdd)
        return c == u',' || c == u']';
      if (outer == S::tsObjectValueAdd)
        return c == u',' || c == u'}';
      return false;
    };
    // A literal spelled out in full ends here unless a name character (or a
    // unit from U+0100 up) continues it into a word.
    const auto finishLiteral = [&](JsonValuePtr aLiteral) {
      if (IsNameChar(c) || c >= 0x100) {
        level.state = S::tsIdentifier;
        ++t.st_pos;
        return Step::Consume;
      }
      complete(std::move(aLiteral));
      return Step::Reexamine;
    };
    const auto matchesStart = [&](std::u16string_view aWord) {
      const std::u16string &text = t.pb.Text();
      const std::size_t n = std::min(static_cast<std::size_t>(t.st_pos) + 1, aWord.size());
      return text.size() >= n && std::u16string_view(text).substr(0, n) == aWord.substr(0, n);
    };

    Step step = Step::Consume;
    switch (level.state) {
    case S::tsEatws:
      if (IsWhitespace(c)) {
        step = Step::Consume;
      } else if (c == u'/') {
        // saved_state is left alone, so a comment is skipped like whitespace.
        t.pb.Clear();
        t.pb.Append(c);
        level.state = S::tsCommentStart;
      } else {
        level.state = level.saved_state;
        step = Step::Reexamine;
      }
      break;

    case S::tsCommentStart:
      if (c == u'*') {
        t.pb.Append(c);
        level.state = S::tsComment;
      } else if (c == u'/') {
        t.pb.Append(c);
        level.state = S::tsCommentEol;
      } else {
        step = fail(E::teParseComment);
      }
      break;

    case S::tsComment:
      t.pb.Append(c);
      if (c == u'*')
        level.state = S::tsCommentEnd;
      break;

    case S::tsCommentEol:
      if (c == u'\n')
        level.state = S::tsEatws;
      else
        t.pb.Append(c);
      break;

    case S::tsCommentEnd:
      // A second '*' does not keep the comment ready to close: "**/" does
      // not end it.
      t.pb.Append(c);
      level.state = c == u'/' ? S::tsEatws : S::tsComment;
      break;

    case S::tsStart:
      if (c == u'"' || c == u'\'') {
        t.quote_char = c;
        t.pb.Clear();
        level.state = S::tsString;
      } else if (c == u'-' || IsDigit(c)) {
        t.pb.Clear();
        if (IsDigit(c) && receiver && receiver->FDataType == JsonType::stObject) {
          level.state = S::tsIdentifier;
        } else {
          t.is_double = 0;
          t.floatcount = -1;
          level.state = S::tsNumber;
        }
        step = Step::Reexamine;
      } else if (c == u'{') {
        level.current = NewObject();
        level.saved_state = S::tsObjectFieldStart;
        level.state = S::tsEatws;
      } else if (c == u'[') {
        level.current = NewArray();
        level.saved_state = S::tsArray;
        level.state = S::tsEatws;
      } else if (c == u'(') {
        step = Step::Consume;
      } else if (c == u'N' || c == u'n') {
        t.pb.Clear();
        t.st_pos = 0;
        level.state = S::tsNull;
        step = Step::Reexamine;
      } else if (c == u'F' || c == u'f' || c == u'T' || c == u't') {
        t.pb.Clear();
        t.st_pos = 0;
        level.state = S::tsBoolean;
        step = Step::Reexamine;
      } else {
        t.pb.Clear();
        level.state = S::tsIdentifier;
        step = Step::Reexamine;
      }
      break;

    case S::tsNull:
      t.pb.Append(c);
      if (!matchesStart(u"null")) {
        t.pb.RemoveLast();
        level.state = S::tsIdentifier;
        step = Step::Reexamine;
      } else if (t.st_pos == 4) {
        step = finishLiteral(NewNull());
      } else {
        ++t.st_pos;
      }
      break;

    case S::tsBoolean:
      t.pb.Append(c);
      if (matchesStart(u"true")) {
        if (t.st_pos == 4)
          step = finishLiteral(NewBoolean(true));
        else
          ++t.st_pos;
      } else if (matchesStart(u"false")) {
        if (t.st_pos == 5)
          step = finishLiteral(NewBoolean(false));
        else
          ++t.st_pos;
      } else {
        t.pb.RemoveLast();
        level.state = S::tsIdentifier;
        step = Step::Reexamine;
      }
      break;

    case S::tsString:
      if (c == t.quote_char) {
        complete(NewString(t.pb.Text()));
      } else if (c == u'\\') {
        level.saved_state = S::tsString;
        level.state = S::tsStringEscape;
      } else {
        t.pb.Append(c); // U+0000 included: the end of the text then fails the parse
      }
      break;

    case S::tsStringEscape:
      switch (c) {
      case u'b':
        t.pb.Append(0x08);
        level.state = level.saved_state;
        break;
      case u'f':
        t.pb.Append(0x0C);
        level.state = level.saved_state;
        break;
      case u'n':
        t.pb.Append(0x0A);
        level.state = level.saved_state;
        break;
      case u'r':
        t.pb.Append(0x0D);
        level.state = level.saved_state;
        break;
      case u't':
        t.pb.Append(0x09);
        level.state = level.saved_state;
        break;
      case u'u':
        t.ucs_char = 0;
        t.st_pos = 0;
        level.state = S::tsEscapeUnicode;
        break;
      case u'x':
        t.ucs_char = 0;
        t.st_pos = 0;
        level.state = S::tsEscapeHexadecimal;
        break;
      default:
        // \" \\ \/ \' give the character itself, and so does any other.
        t.pb.Append(c);
        level.state = level.saved_state;
      }
      break;

    case S::tsEscapeUnicode:
    case S::tsEscapeHexadecimal: {
      const int digits = level.state == S::tsEscapeUnicode ? 4 : 2;
      const int value = HexValue(c);
      if (value < 0) {
        step = fail(E::teParseString);
        break;
      }
      t.ucs_char = static_cast<char16_t>(t.ucs_char + (value << (4 * (digits - 1 - t.st_pos))));
      if (++t.st_pos == digits) {
        // Surrogates are appended as they come, paired or not.
        t.pb.Append(t.ucs_char);
        level.state = level.saved_state;
      }
      break;
    }

    case S::tsIdentifier:
      if (receiver) {
        if (!IsReserved(c)) {
          t.pb.Append(c); // with a receiver, '\' is an ordinary character
        } else if (c != u'\0') {
          step = fail(E::teParseName);
        } else if (receiver->FDataType == JsonType::stObject) {
          complete(receiver->FTable->GetO(t.pb.Text()));
          step = Step::Reexamine;
        } else if (receiver->FDataType == JsonType::stArray) {
          complete(nullptr);
          step = Step::Reexamine;
        }
        // Any other receiver has no members: the end of the name is consumed
        // with no value complete, and the parse fails.
      } else if (isValueEnd()) {
        t.pb.RemoveTrailingBlanks();
        complete(NewString(t.pb.Text()));
        step = Step::Reexamine;
      } else if (c == u'\\') {
        level.saved_state = S::tsIdentifier;
        level.state = S::tsStringEscape;
      } else {
        t.pb.Append(c);
      }
      break;

    case S::tsNumber:
      if (IsNumberChar(c)) {
        t.pb.Append(c);
        if (c == u'.') {
          t.is_double = 1;
          t.floatcount = 0;
        } else if (c == u'E' || c == u'e') {
          t.is_double = 1;
          t.floatcount = -1;
        } else if (IsDigit(c) && t.is_double == 1 && t.floatcount >= 0) {
          // More than four decimals do not fit a currency amount.
          if (++t.floatcount > 4)
            t.floatcount = -1;
        }
      } else {
        complete(MakeNumber(t.pb.Text(), t.is_double, t.floatcount));
        step = Step::Reexamine;
      }
      break;

    case S::tsArray:
      if (c == u']') {
        level.saved_state = S::tsFinish;
        level.state = S::tsEatws;
      } else if (t.depth >= JsonTokenizer::kLevels - 1) {
        step = fail(E::teDepth);
      } else {
        level.state = S::tsArrayAdd;
        step = push();
      }
      break;

    case S::tsArrayAdd:
      level.current->FArray->Add(std::move(t.completed));
      level.saved_state = S::tsArraySep;
      level.state = S::tsEatws;
      step = Step::Reexamine;
      break;

    case S::tsArraySep:
      if (c == u']') {
        level.saved_state = S::tsFinish;
        level.state = S::tsEatws;
      } else if (c == u',') {
        level.saved_state = S::tsArray;
        level.state = S::tsEatws;
      } else {
        step = fail(E::teParseArray);
      }
      break;

    case S::tsObjectFieldStart:
      if (c == u'}') {
        level.saved_state = S::tsFinish;
        level.state = S::tsEatws;
      } else if (c == u'"' || c == u'\'') {
        t.quote_char = c;
        t.pb.Clear();
        level.state = S::tsObjectField;
      } else if (IsReserved(c)) {
        step = fail(E::teParseObjectKeyName);
      } else {
        t.pb.Clear();
        level.state = S::tsObjectUnquotedField;
        step = Step::Reexamine;
      }
      break;

    case S::tsObjectField:
      if (c == t.quote_char) {
        level.field_name = t.pb.Text();
        level.saved_state = S::tsObjectFieldEnd;
        level.state = S::tsEatws;
      } else if (c == u'\\') {
        level.saved_state = S::tsObjectField;
        level.state = S::tsStringEscape;
      } else {
        t.pb.Append(c);
      }
      break;

    case S::tsObjectUnquotedField:
      if (c == u'\0' || c == u':') {
        // Unquoted names keep their blanks: "{ my key : 1}" names "my key ".
        level.field_name = t.pb.Text();
        level.saved_state = S::tsObjectFieldEnd;
        level.state = S::tsEatws;
        step = Step::Reexamine;
      } else if (c == u'\\') {
        level.saved_state = S::tsObjectUnquotedField;
        level.state = S::tsStringEscape;
      } else {
        t.pb.Append(c);
      }
      break;

    case S::tsObjectFieldEnd:
      if (c == u':') {
        level.saved_state = S::tsObjectValue;
        level.state = S::tsEatws;
      } else {
        step = fail(E::teParseObjectKeySep);
      }
      break;

    case S::tsObjectValue:
      if (t.depth >= JsonTokenizer::kLevels - 1) {
        step = fail(E::teDepth);
      } else {
        level.state = S::tsObjectValueAdd;
        step = push();
      }
      break;

    case S::tsObjectValueAdd:
      // A repeated name replaces the earlier member: the last one wins.
      level.current->FTable->PutO(level.field_name, std::move(t.completed));
      level.field_name.clear();
      level.saved_state = S::tsObjectSep;
      level.state = S::tsEatws;
      step = Step::Reexamine;
      break;

    case S::tsObjectSep:
      if (c == u'}') {
        level.saved_state = S::tsFinish;
        level.state = S::tsEatws;
      } else if (c == u',') {
        level.saved_state = S::tsObjectFieldStart;
        level.state = S::tsEatws;
      } else {
        step = fail(E::teParseObjectValueSep);
      }
      break;

    case S::tsFinish:
      if (t.depth == 0) {
        step = Step::Stop;
      } else {
        t.completed = std::move(level.current);
        level.Reset();
        --t.depth;
        step = Step::Reexamine;
      }
      break;
    }

    if (step == Step::Fail || step == Step::Stop)
      break;
    if (step == Step::Consume) {
      if (c == u'\0') {
        // The text has ended; it ended well only if the active level holds
        // a complete value (a comment after a value may run to the end).
        const JsonParseLevel &active = t.stack[static_cast<std::size_t>(t.depth)];
        if (active.state != S::tsFinish && active.saved_state != S::tsFinish)
          t.err = E::teParseEof;
        break;
      }
      ++t.char_offset;
    }
  }

  if (t.err != E::teSuccess)
    return nullptr;
  return std::move(t.stack[static_cast<std::size_t>(t.depth)].current);
}

JsonValuePtr JsonValue::ParseString(std::u16string_view aText, bool aPartial,
                                    const JsonValue *aReceiver) {
  JsonTokenizer tokenizer;
  JsonValuePtr result = ParseEx(tokenizer, aText, aReceiver);
  if (tokenizer.err != E::teSuccess)
    return nullptr;
  // Without partial mode the whole text must have been read.
  if (!aPartial && tokenizer.char_offset < aText.size() && aText[tokenizer.char_offset] != u'\0')
    return nullptr;
  return result;
}

} // namespace marquo
