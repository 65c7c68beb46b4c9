// Every user-visible text of the engine and start-up, in one place. Sources
// are UTF-8; the files that include this header are compiled with
// -fexec-charset=CP932, so each literal is CP932 in the program.
#pragma once

// "LZH self-extracting archive V2.50.w32.0015": default title and caption.
#define DefaultTitle "LZH 自己解凍書庫 V2.50.w32.0015"
// "Not enough memory"
#define MsgNoMemory "メモリが足りません"
// "Open error"
#define MsgOpenError "オープンエラー"
// "Read error"
#define MsgReadError "読み込みエラー"
// "Write error"
#define MsgWriteError "書き込みエラー"
// "Close error"
#define MsgCloseError "クローズエラー"
// "The archive is broken"
#define MsgArchiveBroken "書庫が壊れています"
// "The header's contents are invalid"
#define MsgInvalidHeader "ヘッダーの内容が不正"
// "CRC error"
#define MsgCrcError "CRC エラー"
// A broken Huffman code-length set.
#define MsgBadTable "Bad table (5)"
// "Overwrite?"
#define MsgOverwrite "上書きしますか？"
// "Extracting N%" (format)
#define MsgProgressFormat "解凍中 %lu%%"
// "Extracting 0%"
#define MsgProgressZero "解凍中 0%"
// "Invalid directory name"
#define MsgBadDirectory "ﾃﾞｨﾚｸﾄﾘ名が正しくありません"
// "Browse for a directory": title of the directory chooser.
#define MsgChooserTitle "ﾃﾞｨﾚｸﾄﾘの参照"
