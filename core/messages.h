// Every user-visible text of the engine and start-up, in one place, and the
// ids by which the engine reports what happened. Sources are UTF-8; the
// files that include this header are compiled with -fexec-charset=CP932 in
// the stub, so each literal is CP932 there, and UTF-8 in the host tool.
//
// The engine reports a fault by its id (ShowError, core/report.h), never by
// its words: the stub shows the id's text (MessageText), the host tool the
// same text with its English gloss and decides its exit code by the id.
#pragma once
#include <stdint.h>

// "LZH self-extracting archive V2.50.w32.0015": default title and caption.
#define DefaultTitle "LZH 自己解凍書庫 V2.50.w32.0015"
// "Not enough memory"
#define TextNoMemory "メモリが足りません"
// "Open error"
#define TextOpenError "オープンエラー"
// "Read error"
#define TextReadError "読み込みエラー"
// "Write error"
#define TextWriteError "書き込みエラー"
// "Close error"
#define TextCloseError "クローズエラー"
// "The archive is broken"
#define TextArchiveBroken "書庫が壊れています"
// "The header's contents are invalid"
#define TextInvalidHeader "ヘッダーの内容が不正"
// "CRC error"
#define TextCrcError "CRC エラー"
// A broken Huffman code-length set.
#define TextBadTable "Bad table (5)"
// "Overwrite?"
#define TextOverwrite "上書きしますか？"
// "Extracting N%" (format)
#define TextProgressFormat "解凍中 %lu%%"
// "Extracting 0%"
#define TextProgressZero "解凍中 0%"
// "Invalid directory name"
#define TextBadDirectory "ﾃﾞｨﾚｸﾄﾘ名が正しくありません"
// "Browse for a directory": title of the directory chooser.
#define TextChooserTitle "ﾃﾞｨﾚｸﾄﾘの参照"

// What the engine reports. The stub's messages come first, in the order of
// MessageText's table; the host's own follow them.
enum MessageId {
  MsgNoMemory,
  MsgOpenError,
  MsgReadError,
  MsgWriteError,
  MsgCloseError,
  MsgArchiveBroken,
  MsgInvalidHeader,
  MsgCrcError,
  MsgBadTable,
  StubMessageCount,
  // The member's method id is none the host decodes (the stub's header
  // reader refuses such a member before it is a member). The host writes
  // this text itself, with the id.
  MsgUnsupportedMethod = StubMessageCount,
};

// The text of one of the stub's messages, in the execution charset of the
// file that calls it (static: each file keeps its own).
static inline const char* MessageText(MessageId id) {
  static const char* const Texts[StubMessageCount] = {
      TextNoMemory,      TextOpenError,    TextReadError,
      TextWriteError,    TextCloseError,   TextArchiveBroken,
      TextInvalidHeader, TextCrcError,     TextBadTable,
  };
  return Texts[id];
}
