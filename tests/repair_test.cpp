#include <gtest/gtest.h>

#include <string>

#include "mek/mek.h"

namespace mek::test {
namespace {

struct RepairCase {
  const char32_t* text;
  const char32_t* repaired;  // the text itself when nothing is repaired
  const char* chain;         // "" when nothing is repaired
  std::size_t lost;
};

// The wrong turns of こんにちは, with the chains that must be found, and text
// that must stay as it is: Western text with accents, its own Western
// mojibake, English, Japanese, code. (tools/mojibake_eval.py weighs the rule
// on a corpus; these are the cases a change must not lose.)
TEST(RepairTest, ChainsAndCleanText) {
  const RepairCase cases[] = {
      // UTF-8 read as cp932: the last byte of 。 was cut off.
      {U"縺薙ｓ縺ｫ縺｡縺ｯ縲∽ｸ也阜縲", U"こんにちは、世界\uFFFD", "utf8 read as cp932", 1},
      // A reader that lost EF alone, the lead of the full-width forms, and
      // read the bytes after it as half-width katakana (Ｄ as U+FFFD ｼ､).
      {U"縺薙ｓ縺ｫ縺｡縺ｯ\uFFFD\uFF7C\uFF64", U"こんにちは\uFF24", "utf8 read as cp932", 0},
      // Short texts: each character's first two bytes as a rare kanji,
      // its last with the next lead as a kanji, or lost (寅吉, この). A
      // rare kanji alone, or common ones beside U+FFFD, are text.
      {U"蟇\uFFFD蜷\uFFFD", U"\uFFFD\uFFFD", "utf8 read as cp932", 2},
      {U"縺薙\uFFFDｮ.txt", U"こ\uFFFD.txt", "utf8 read as cp932", 1},
      {U"蟇", U"蟇", "", 0},
      {U"窶堙\uFFFD.txt", U"\uFFFD.txt", "cp932 read as cp1252, then utf8 read as cp932", 1},
      {U"食\uFFFDﾃ", U"食\uFFFDﾃ", "", 0},
      {U"日本\uFFFD", U"日本\uFFFD", "", 0},
      {U"‚±‚ñ‚É‚¿‚Í", U"こんにちは", "cp932 read as cp1252", 0},
      {U"¤³¤ó¤Ë¤Á¤Ï", U"こんにちは", "eucjp read as latin1", 0},
      {U"ã\u0081“ã‚“ã\u0081«ã\u0081¡ã\u0081¯", U"こんにちは", "utf8 read as cp1252", 0},
      {U"é▒é±é╔é┐é═.txt", U"こんにちは.txt", "cp932 read as cp437", 0},
      // Readings alike but for their kanji: the commoner ones are the text
      // (¥ is 9D in cp437 and BE in cp850: 慢 and 明; EUC-JP read as
      // Latin-1 gives 冨疋宕 of the same bytes).
      {U"òsû¥é╚âVâXâeâÇâGâëü[", U"不明なシステムエラー", "cp932 read as cp850", 0},
      {U"ÉÚÉ¥Åæ", U"宣誓書", "cp932 read as cp850", 0},
      // UTF-8 names so (80 and A0, which lead nothing in cp932, as Windows
      // reads them: ダ is E3 83 80, 場 E5 A0 B4).
      {U"πé╣πâ╝πâÇπâ│σ╕éσá┤.txt", U"スーダン市場.txt",
       "utf8 read as cp932, then cp932 read as cp437", 0},
      {U"$B$3$s$K$A$O(B", U"こんにちは", "jis without ESC", 0},
      // Beneath a Western turn of Latin-1 symbols that JIS X 0208 holds too
      // (¥, ¨): the EUC-JP pairs of its UTF-8 (C2 A5 is 促) are not the text.
      {U"\u00C2\u00A5\u00C2\u00A8\u00C2\u00A5\u00C2\u00A6\u00C2\u00A5\u00C2\u00A2", U"エウア",
       "eucjp read as latin1, then utf8 read as latin1", 0},
      // cp932 read as Latin-1, then UTF-8 read as Latin-1: the C1 controls'
      // UTF-8 read as cp932 once (ﾂ個蚕, taking the backslash) is no repair.
      {U".\\\"  Date: 25\\ \\&1 \u00C2\u008C\u00C2\u008E\\ \\&2023",
       U".\\\"  Date: 25\\ \\&1 月\\ \\&2023", "cp932 read as latin1, then utf8 read as latin1", 0},
      // EUC-JP read as Latin-1 twice: the accented letters went through JIS
      // X 0212 (8F and two bytes, which cp932 reads as 将ﾁ), and ¥, the lead
      // byte of katakana, came back as a backslash.
      {U"\u008F\u00AB\u00C1\u008F\u00AB\u00AE\u008F\u00AA\u00AA\u008F\u00AA\u00BF", U"閾値",
       "eucjp read as latin1 twice", 0},
      {U"\\\u008F\u00AB\u00B1\\\u008F\u00A9\u00A1\\\u008F\u00AB\u00D1\u008F\u00A2\u00B1"
       U"\u008F\u00AB\u00C0",
       U"ラテン語", "eucjp read as latin1 twice", 0},
      {U"ç¸ºè–™ï½“ç¸ºï½«ç¸ºï½¡ç¸ºï½¯", U"こんにちは",
       "utf8 read as cp932, then utf8 read as cp1252", 0},
      // Half-width katakana of EUC-JP (8E and a byte) read as Latin-1, then
      // UTF-8 read as cp932, which lost some of them: the kana, not the
      // cp932 pairs of the same bytes (8E B2 as 軸).
      {U"\uFF82\u7BE0\uFF7A\uFF82\u7BE0\uFF70\uFF82\u5072\uFFFD\uFF82\u5072\uFFFD,\uFF82\u7BE0"
       U"\uFF7C\uFF82\u5072\u9673\u7BE0\uFF72,\uFF82\u7BE0\uFF76\uFF82\u5072\uFFFD,\uFF82\u7BE0"
       U"\uFF77\uFF82\u5072\u6556\u7BE0\uFF76\uFF82\u5072\u696A\u7BE0\uFF78",
       U"ｺｰ\uFFFD\uFFFD,ｼﾒｲ,ｶ\uFFFD,ｷﾝｶﾞｸ", "eucjp read as latin1, then utf8 read as cp932", 3},
      // Half-width katakana of cp932 read as cp1252, then UTF-8 read as
      // EUC-JP, which loses ﾀ..ﾟ (C3 80..9F) and keeps the rest (C2 B2 as 族).
      {U"\u65CF\uFFFD\uFFFD\u5C0A\u8896\u8896\u8896\u6751\uFFFD\uFFFD "
       U"\u65CF\u6751\uFFFD\uFFFD\uFFFD"
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD,\u905C\u905C\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD",
       U"ｲ\uFFFDｵｵｵｼ\uFFFD ｲｼ\uFFFD,ｽｽ\uFFFD", "cp932 read as cp1252, then utf8 read as eucjp", 4},
      // UTF-8 read as EUC-JP, then as Latin-1: beneath the Western turn, as
      // many U+FFFD as kanji (純, 若 of ソース) are what the reading as EUC-JP
      // kept, not text.
      {U"(\u00EF\u00BF\u00BD\u00EF\u00BF\u00BD\u00E7\u00B4\u0094\u00EF\u00BF\u00BD\u00E8\u008B"
       U"\u00A5\u00EF\u00BF\u00BD\u00E9\u00B4\u00BB\u00EF\u00BF\u00BD\u00E6\u00BD\u009F\u00EF\u00BF"
       U"\u00BD\u00E8\u008B\u00A5\u00EF\u00BF\u00BD\u00EF\u00BF\u00BD)",
       U"(\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD)", "utf8 read as eucjp, then utf8 read as latin1",
       6},
      // UTF-8 read as EUC-JP alone, as many U+FFFD as other characters: 年
      // (E5 B9 B4) as 綛 (E5 B9) and U+FFFD; a common kanji beside U+FFFD
      // stays.
      {U"  %Y   綛\uFFFD", U"  %Y   \uFFFD", "utf8 read as eucjp", 1},
      {U"年\uFFFD", nullptr, "", 0},
      // Beneath UTF-8 read as cp932 undone whole, kanji alone are enough.
      {U"ﾂ個堋静敖氾ｯﾂ用", U"建設費用", "cp932 read as latin1, then utf8 read as cp932", 0},
      // UTF-8 read as EUC-JP, then as cp1252: a line of U+FFFD alone (ï¿½)
      // tells nothing, and waits for the line after it to take the turns.
      {U"ï¿½ï¿½ï¿½ï¿½ï¿½ï¿½\nè\u008D\u0090æƒ¹ï¿½ï¿½", U"\uFFFD\uFFFD\n証\uFFFD",
       "utf8 read as eucjp, then utf8 read as cp1252", 3},
      // Beside lines of UTF-8 read as EUC-JP, a Latin-1 sign that it read as
      // one kanji (£ as 贈).
      {U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD茵\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD絖\uFFFD"
       U"\uFFFD\uFFFD潟\uFFFD若\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD腓冴\uFFFD\uFFFD\uFFFD\uFFFD障\uFFFD"
       U"\uFFFD\uFFFD\uFFFD\uFFFD\n243\t163\tA3\t贈\tPOUND SIGN",
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD示\uFFFD\uFFFD\uFFFD\uFFFD\n24"
       U"3\t163\tA3\t£"
       U"\tPOUND SIGN",
       "utf8 read as eucjp", 14},
      // One line of three repaired, with the line ends kept.
      {U"ok\r\n‚±‚ñ‚É‚¿‚Í\nok", U"ok\r\nこんにちは\nok", "cp932 read as cp1252", 0},
      // After a repaired line, one that the same turns undo exactly but that
      // does not read as Japanese by itself; an accented word does not.
      {U"ã\u0081“ã‚“ã\u0081«ã\u0081¡ã\u0081¯\nhoshi /â˜†/â˜…/", U"こんにちは\nhoshi /☆/★/",
       "utf8 read as cp1252", 0},
      {U"‚±‚ñ‚É‚¿‚Í\nº°ÄÞ\nAção", U"こんにちは\nｺｰﾄﾞ\nAção", "cp932 read as cp1252", 0},
      // A printf conversion is no Latin word, and a kana no accented pair.
      {U"¤³¤ó¤Ë¤Á¤Ï\n%lldÆü\nOldestMulti¤ÎDB: %u", U"こんにちは\n%lld日\nOldestMultiのDB: %u",
       "eucjp read as latin1", 0},
      // Alone too, where the byte before a kana's reads as no letter (‚ of
      // cp1252).
      {U"OldestMulti‚ÌDB:.txt", U"OldestMultiのDB:.txt", "cp932 read as cp1252", 0},
      // Through cp437 and cp850 where the trail byte reads as no letter (é╠).
      {U"OldestMultié╠DB:.txt", U"OldestMultiのDB:.txt", "cp932 read as cp437", 0},
      {U"--source-pgdataé®--source-serve.txt", U"--source-pgdataか--source-serve.txt",
       "cp932 read as cp850", 0},
      // A small letter before a capital is no Western word (DeleteòÂ).
      {U"òÂÄÜé\u00ADò\\ÄªéÀéÚ\nDeleteòÂ", U"文字を表示する\nDelete文", "cp932 read as cp850", 0},
      // Nor a pair that holds no accented letter, and JIS symbols belong.
      {U"¤³¤ó¤Ë¤Á¤Ï\nDeleteÊ¸\nhoshi /¡ù/¡ú/", U"こんにちは\nDelete文\nhoshi /☆/★/",
       "eucjp read as latin1", 0},
      // Half-width katakana, which the scorer does not count as Japanese;
      // not the box drawings, trees, guillemets or capitals that read as it.
      {U"7209,²Äºµµµ¼Þ ²¼ÂÌÞÂ,½½ÞÅØ", U"7209,ｲﾄｺｵｵｵｼﾞ ｲｼﾂﾌﾞﾂ,ｽｽﾞﾅﾘ", "cp932 read as cp1252", 0},
      // Its bytes read as Latin-1 are EUC-JP pairs too (ｺｽﾞｴ, º½Þ´, as
      // 砂浚); the voiced marks in place decide, but in a short text.
      {U"6521,º½Þ´ Å¶ÌÞ¸Û,¼®³ÀÞÝ¾²ØÂ,19777", U"6521,ｺｽﾞｴ ﾅｶﾌﾞｸﾛ,ｼｮｳﾀﾞﾝｾｲﾘﾂ,19777",
       "cp932 read as cp1252", 0},
      // Without voiced marks, small kana each after a kana that takes them
      // decide (汐核床饗 of the EUC-JP pairs); in a short run they do not.
      {U"9969,¼®³Ë¾²¶Â.txt", U"9969,ｼｮｳﾋｾｲｶﾂ.txt", "cp932 read as cp1252", 0},
      {U"7741,╝«│╢▓╝¼.txt", U"7741,ｼｮｳｶｲｼｬ.txt", "cp932 read as cp437", 0},
      {U"\\fBpppoe\\fR ¤Ï¡¢PPPoE (Point-to-Point Protocol over Ethernet) ¤Î",
       U"\\fBpppoe\\fR は、PPPoE (Point-to-Point Protocol over Ethernet) の",
       "eucjp read as latin1", 0},
      {U"¶¶ÄÞ", U"橋爪", "eucjp read as latin1", 0},
      // Beside lines of EUC-JP, a table's Latin letters and signs are its
      // characters too (Ą in JIS X 0212, SS3 and two bytes; §).
      {U"8¿Ê\t16¿Ê\tÊ¸»ú\n241\tA1\t\u008Fª¨\tA WITH OGONEK\n247\tA7\t¡ø\tSECTION SIGN",
       U"8進\t16進\t文字\n241\tA1\tĄ\tA WITH OGONEK\n247\tA7\t§\tSECTION SIGN",
       "eucjp read as latin1", 0},
      {U"7209,ï½²ï¾\u0084ï½ºï½µ", U"7209,ｲﾄｺｵ", "utf8 read as latin1", 0},
      {U"7209,\u008e²\u008eÄ\u008eº\u008eµ", U"7209,ｲﾄｺｵ", "eucjp read as latin1", 0},
      {U"7209,▓─║╡ ▓╝┬╠▐┬", U"7209,ｲﾄｺｵ ｲｼﾂﾌﾞﾂ", "cp932 read as cp437", 0},
      // Box pieces that join single and double lines are no drawing (╙╨╕).
      {U"6740,▓»─╪│╤ ╙╨╕┴¼", U"6740,ｲｯﾄﾘｳﾑ ﾓﾐｸﾁｬ", "cp932 read as cp437", 0},
      {U"  ╔══════════╗\n  ├── tox.ini", nullptr, "", 0},
      {U"╚══╩══╝.txt", nullptr, "", 0},
      {U"German (Bone, »ß« unten), ÀÁÂÃÄÅ ÈÉÊË", nullptr, "", 0},
      {U"Café Ação naïve Straße Ærø", nullptr, "", 0},
      {U"CafÃ© AÃ§Ã£o", nullptr, "", 0},
      {U"l'État d'Érythrée, größer, für, Zusammenstößen", nullptr, "", 0},
      // Words with accents read as cp437 pairs give CJK symbols alone
      // (b【〔), brackets that do not pair (芭〉), kanji after one letter
      // (t排婆), kanji that end or begin a word (ucra杵郭, 罵〟lendirilebilir,
      // Ksビヌ覧) or kanji each a word (系).
      {U"Kitan büyük alfabe", nullptr, "", 0},
      {U"\\fIasgari_ömür\\fR] [\\fB-x \\fR\\fIazami_ömür\\fR]", nullptr, "", 0},
      {U"török", nullptr, "", 0},
      {U"ucraïnès Nòvèj Kene-ölçülendirilebilir", nullptr, "", 0},
      {U"Ksârâkùù", nullptr, "", 0},
      // UTF-8 of other scripts read as cp1252 stays too (Ð°Ð¼ for ам),
      // though two EUC-JP kanji read as Latin-1 read as two Greek letters
      // in UTF-8 (Î¾Î¾ for 両両, ξξ); so do × (Ã\x97) and Þæt.
      {U"Ð\u0090Ð¶Ó™Ð°Ð¼Ð°Ó¡Ð°.txt", nullptr, "", 0},
      {U"Î¾Î¾", U"両両", "eucjp read as latin1", 0},
      {U"10Ã\u009714 Ã\u009eÃ¦t.txt", nullptr, "", 0},
      // And as cp437, where ZIP names go (╨╡╨╕ for еи); but EUC-JP's
      // hiragana read as Latin-1, which through cp850 is Greek in UTF-8,
      // comes back.
      {U"╨╡╨╕╨╗╨║╨░.txt", nullptr, "", 0},
      {U"¤«¤ó¤É¤Ö¤ó¤×.txt", U"かんどぶんぷ.txt", "eucjp read as latin1", 0},
      {U"Acest lucru nu se face în modul cu un singur în fișier", nullptr, "", 0},
      // C1 controls are no text: the holes of cp1252 (\x90, \x8D) that a
      // repair into kana and kanji explains are enough; Western text in
      // cp1252 read as Latin-1 has its marks where they belong.
      {U"[\u0090V.txt", U"[新.txt", "cp932 read as cp1252", 0},
      {U"\u008Dš", U"忽", "cp932 read as cp1252", 0},
      {U"It\u0092s a \u0093test\u0094 \u0096 really\u0085 with ``~\u0092\u0092 for", nullptr, "",
       0},
      {U".IX Item \u0093u = inconnU\"", nullptr, "", 0},
      // But such a mark among lines that took a turn through Latin-1 is a
      // cp932 lead byte (前 as ‘O).
      {U"\u008E\u00B2\n\u0091O(_F):", U"軸\n前(_F):", "cp932 read as latin1", 0},
      // Accented first letters that read as kanji through cp850 (迅穫ements).
      {U"Évènements", nullptr, "", 0},
      {U"assert decode(b'\\xEF\\xBB') == 'ï»'", nullptr, "", 0},
      {U"echo $BAR(B and $@", nullptr, "", 0},
      {U"こんにちは、世界。", nullptr, "", 0},
      {U"int main() { return 0; }  // 戻り値", nullptr, "", 0},
      // UTF-8 read as cp932 or EUC-JP that lost bytes: the known bytes fall
      // into place around the lost ones, one U+FFFD for each character lost.
      {U"蜿､縺\uFFFD讖溯\uFFFDｽ繧\uFFFD讒区\uFFFD\uFFFD (繝\uFFFD繝輔か繝ｫ繝\uFFFD)縲\uFFFD",
       U"古\uFFFD機\uFFFD\uFFFD構\uFFFD (\uFFFDフォル\uFFFD)\uFFFD", "utf8 read as cp932", 7},
      {U"apt.conf \\- APT 荐\uFFFD絎\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD＜\uFFFDゃ\uFFFD\uFFFD",
       U"apt.conf \\- APT \uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", "utf8 read as eucjp", 6},
      // A line that is mostly U+FFFD (UTF-8 read as EUC-JP keeps little):
      // fewer bytes in place tell the turn. When it is such a line alone, a
      // later line that decides other turns prevails.
      {U"%s "
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD若\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"
       U"\uFFFD若\uFFFD\uFFFD: <%s>",
       U"%s \uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD: <%s>", "utf8 read as eucjp", 7},
      {U".SH \uFFFD\uFFFD傑\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\n"
       U"膵\uFFFD\uFFFD\uFFFD盈\uFFFD膵э衆膵\uFFFD鐔\uFFFD膵\uFFFD錚域\uFFFD\uFFFD鐔臥\uFFFD\uFFFD"
       U"鐔主減鐔睡孝絎\uFFFD鐔"
       U"\uFFFD\uFFFD\uFFFD居襲\uFFFD\uFFFD\uFFFD鐚\uFFFD膰削従膰阪\uFFFD饗\uFFFD鐃\uFFFD",
       U".SH \uFFFD\n\uFFFDグ\uFFFD\uFFFD\uFFFDみ\uFFFD\uFFFD\uFFFDま\uFFFD\uFFFD",
       "utf8 read as cp932, then utf8 read as eucjp", 10},
      // UTF-8 read as EUC-JP, then as cp932 by a reader that lost EF alone:
      // the U+FFFD of the first reader are U+FFFD ｿｽ (システムの設定).
      {U"\uFFFD\uFF7F\uFF7D\uFFFD\uFF7F\uFF7D\u8C7C\u0080\uFFFD\uFF7F\uFF7D\u9B58\uFF7B\uFFFD\uFF7F"
       U"\uFF7D\uFFFD\uFF7F\uFF7D\uFFFD\uFF7F\uFF7D"
       U"\uFFFD\uFF7F\uFF7D\uFFFD\uFF7F\uFF7D\uFFFD\uFF7F\uFF7D\uFFFD\uFF7F\uFF7D\uFFFD\uFF7F\uFF7D"
       U"\u95D5\u64B0\uFF7F\uFF7D\u90A8\u8DA3\uFF7F\uFF7D",
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", "utf8 read as eucjp, then utf8 read as cp932",
       7},
      // Beneath UTF-8 read as EUC-JP, the accented letters it left are no
      // half-width katakana of cp932 (ã of ã‚¢ as ﾆ): ガニスタン.
      {U"\u9054\uFFFD\uFFFD\uFFFD\u6E2C\u9054\uFFFD\uFFFD\uFFFD\uFFFD\u7532\uFF42\uFFFD"
       U"\uFFFD\u5B6B\u9054\uFFFD\uFFFD\uFFFD\u591A\u9054\uFFFD\uFFFD\u7D9A",
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", "utf8 read as cp1252, then utf8 read as eucjp", 5},
      // UTF-8 read as cp932, then as EUC-JP: the ｧ left of 名称 (蜷咲ｧｰ)
      // among U+FFFD is no ledger of half-width katakana.
      {U".SH \uFFFD\uFFFD\u6841\uFFFD\u99D5\u6D32\u9414\uFFFD", U".SH \uFFFD",
       "utf8 read as cp932, then utf8 read as eucjp", 1},
      // EUC-JP read as Latin-1, then UTF-8 read as EUC-JP: the letters lost
      // were two bytes each (APT の設定ファイル).
      {U"APT \u9020\uFFFD\uFF83\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u68DA\u4FC3\uFFFD\uFFFD\u4FC3"
       U"\u81D3\u4FC3\u9020\u4FC3\u8C37",
       U"APT の\uFFFD\uFFFDァイル", "eucjp read as latin1, then utf8 read as eucjp", 2},
      // Also where the split of three bytes reads as well (変数: 数, not 瑤),
      // and in a line that the same turns take back (を設定すると).
      {U"\u4FC3\u8C37\u81D3\u6751\u4FC3\u8C37\u9020\u8FB0\uFFFD\uFFFD\uFFFD\uFFFD\u591A\u62C5"
       U"\u9020\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u9020\u5B6B\u9020\u8C37\n\u9020\u5606\uFFFD"
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u68DA\u9020\u5B6B\u9020\u8C37\u9020\uFFFD\uFFFD",
       U"ルールや\uFFFD数\uFFFD\uFFFDする\nを\uFFFDする\uFFFD",
       "eucjp read as latin1, then utf8 read as eucjp", 5},
      // Beneath a reading of Latin-1 the lost letters are two bytes each,
      // whatever reads better: 以前, B0 CA C1 B0, lost CA C1, not 阿 (B0 A4)
      // of 以 and は's A4.
      {U"\u5C5E\uFFFD\uFFFD\uFFFD\uFFFD\u5C5E\u9020\uFFFD\u6661\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"
       U"\u9020\u8896\u9020\u72F8\u9020\uFFFD\uFFFD\u9020\u9020\u9020\u591A\u9020\u8CCA\u9020\u72F8"
       U"\u9020\uFFFD\uFFFD\u9020\u4F46",
       U"\uFFFD\uFFFDは\uFFFD\uFFFDされ\uFFFDいたけれ\uFFFDも",
       "eucjp read as latin1, then utf8 read as eucjp", 6},
      // But where a third of the letters or more lead UTF-8 of Japanese
      // text (ã of パ, E3 83 91), the text beneath was UTF-8, not EUC-JP.
      {U"pastime /\u9054\uFFFD\uFFFD\uFFFD\uFFFD\u9054\uFFFD\uFFFD\u5B6B\u9054\uFFFD\uFFFD\u591A"
       U"\u9054\uFFFD\uFFFD\u9020\u9054\uFFFD\uFFFD\uFFFD\uFFFD/",
       U"pastime /\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD/", "utf8 read as cp1252, then utf8 read as eucjp",
       5},
      // cp932 read as cp1252, then UTF-8 read as EUC-JP, which loses one to
      // three bytes of each character beneath: a lost run takes the trail
      // byte after it along, whatever its length (名前, 96 BC 91 4F, as 村
      // and O among U+FFFD), but for a lead byte of a pair (書式 as 貼速,
      // 8E AE). A line that lost all but such bytes waits (ページ).
      {U".TH X \uFFFD\uFFFDy\uFFFD\uFFFD[\uFFFD\uFFFDW\n"
       U"hostname \\- \uFFFD\uFFFDV\uFFFD\uFFFDX\uFFFD\uFFFDe\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDz\uFFFD\uFFFDX\uFFFD\uFFFDg\uFFFD\uFFFD\uFFFD"
       U"\u6751\uFFFD\uFFFD\uFFFD\u4E39\uFFFD\uFFFD\uFFFD\\\u8CBC\u5074\uFFFD\uFFFDE\uFFFD"
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u7AEA\uFFFD\uFFFD\uFFFD\u63C3\uFFFD\uFFFD\uFFFD"
       U"\u8FBF\n.SH \uFFFD\uFFFD\uFFFD\u6751\uFFFD\uFFFD\uFFFDO\n.SH "
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u8CBC\u901F",
       U".TH X \uFFFD\uFFFD\uFFFD\nhostname \\- "
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u793A\uFFFD"
       U"\uFFFD\uFFFD\uFFFD\n.SH \uFFFD\uFFFD\n.SH \uFFFD式",
       "cp932 read as cp1252, then utf8 read as eucjp", 19},
      // ASCII alone between lost characters is no UTF-8 that lost them, but
      // cp932 that lost its lead bytes (マニュアルページ as }, j, A, y, [,
      // W): not UTF-8 read as EUC-JP twice.
      {U"aclocal 1.16.5 \uFFFD\uFFFD\u7AEF\uFFFD\uFFFD\uFFFD\u4FD7\uFFFD\uFFFD\uFFFD\uFFFD"
       U"\uFFFD\uFFFD\uFFFD}\uFFFD\uFFFDj\uFFFD\uFFFD\uFFFD\uFFFD\u03B6\uFFFDA\uFFFD\uFFFD\uFFFD"
       U"\uFFFD\u7A3F\uFFFDy\uFFFD\uFFFD[\uFFFD\uFFFDW",
       U"aclocal 1.16.5 \uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD",
       "cp932 read as cp1252, then utf8 read as eucjp", 8},
      // Read as cp850, the lost letters are two bytes each, as through
      // Latin-1 (説明: 明).
      {U"APT "
       U"\u8FBF\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u5074\uFFFD\uFFFD\uFFFD\uFFFD\u4F46t\u4F46@\u4F46C"
       U"\u4F46\u8AB0\n.SH \uFFFD\uFFFD\uFFFD\uFFFD\u77ED\u4FC3",
       U"APT \uFFFD\uFFFD\uFFFDファイル\n.SH \uFFFD明",
       "cp932 read as cp850, then utf8 read as eucjp", 4},
      // Read as cp437, the run takes an ASCII trail byte along (出力 as o).
      {U"\uFFFD\uFFFD\uFFFD\uFFFD\u8FBF\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDo\u6E5B\uFFFD\uFFFD\uFFFD"
       U"\u4F46t\u4F46@\u4F46C\u4F46\u8AB0\u8FBF\uFFFD\uFFFD\uFF5C\uFFFDX\uFFFD\uFFFDV\u8FBF"
       U"\uFFFD\uFFFD\uFF5C\uFFFD\uFFFD\uFFFD\uFFFD\u8FBF\uFFFD\uFFFD\uFFFD\u7AEFB",
       U"\uFFFD\uFFFD\uFFFDファイル\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD。",
       "cp932 read as cp437, then utf8 read as eucjp", 9},
      // And a byte of E0..FC right after lost ones is a trail byte there
      // too (の設定, 82 CC 90 DD 92 E8, keeps E8 as Φ: not 閭 with ファ's 83).
      {U"APT \u8FBF\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u9678\u4F46t\u4F46@"
       U"\u4F46C\u4F46\u8AB0",
       U"APT \uFFFD\uFFFDファイル", "cp932 read as cp437, then utf8 read as eucjp", 2},
      // But a lead byte of a pair with an ASCII trail byte there begins a
      // character (、, 81 41: not 81 taken along and A alone).
      {U"\u8C37p\uFFFD\uFFFD\u65E6\uFFFD\uFFFD\uFFFD\uFFFD\u7AEFA\u4F46n\u4F46C\u4F46t\u4F46\u62C5",
       U"英\uFFFD\uFFFD、ハイフン", "cp932 read as cp437, then utf8 read as eucjp", 2},
      // A half-width katakana alone beside a lost character there is a
      // trail byte of a lost lead (生成, 90 B6 90 AC: not ｬ of AC).
      {U"GRUB "
       U"\u4F46L\u7AEF[\u4F46{\u7AEF[\u4F46h\u4F46\u6A3D\u4F46C\u4F46A\u4F46E\u4F46g\u4F46t\u4F46@"
       U"\u4F46C\u4F46\u8AB0\u8FBF\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"
       U"\u6751",
       U"GRUB キーボードレイアウトファイル\uFFFD\uFFFD",
       "cp932 read as cp437, then utf8 read as eucjp", 2},
      // Of the two splits of lost letters, the one that leaves less ASCII
      // (実行: not s).
      {U"env \\- "
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDX\uFFFD\uFFFD\uFFFD\u8896\uFFFD\uFFFD\uFFFD"
       U"\u905C\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u6E9D\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"
       U"\uFFFDv\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDO\uFFFD\uFFFD\uFFFD\uFFFD\u6848\uFFFD\uFFFD"
       U"\uFFFD"
       U"\uFFFD\uFFFD\uFFFD\uFFFD\u4E39\u8CBC\uFFFD\uFFFD\uFFFD\uFFFDs\uFFFD\uFFFD\uFFFD\u63C3"
       U"\uFFFD"
       U"\uFFFD\uFFFD\u8FBF\nenv \\- \uFFFD\uFFFDv\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDO\uFFFD\uFFFD"
       U"\uFFFD\uFFFD\u6848\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u4E39\u8CBC\uFFFD\uFFFD\uFFFD"
       U"\uFFFDs\uFFFD\uFFFD\uFFFD\u63C3\uFFFD\uFFFD\uFFFD\u8FBF",
       U"env \\- \uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\n"
       U"env \\- \uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD",
       "cp932 read as cp1252, then utf8 read as eucjp", 17},
      // Such bytes alone tell the turns (ユーザーコマンド).
      {U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD[\uFFFD\uFFFDU\uFFFD\uFFFD[\uFFFD\uFFFDR\uFFFD\uFFFD}"
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDh",
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", "cp932 read as cp1252, then utf8 read as eucjp", 6},
      // A byte of E0..FC right after lost ones is the trail of a lost lead
      // (り, 82 E8, as U+FFFD and 竪), not a lead of a rare kanji with the
      // byte after it (E8 8E, 闔): 割り算 keeps 算, 8E 5A.
      {U"ARG1 \uFFFD\uFFFD\uFFFD\uFFFD\uFFFD ARG2 "
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u8131"
       U"\uFFFD\uFFFD\uFFFD\u8FBF\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\u7AEA\u8CBCZ",
       U"ARG1 \uFFFD ARG2 \uFFFD\uFFFD\uFFFD算", "cp932 read as cp1252, then utf8 read as eucjp",
       4},
      // EUC-JP read as Latin-1, then UTF-8 read as cp932 (阻隔): not one
      // half-width katakana of cp932 read as cp1252 (ｳ) among U+FFFD.
      {U"\uFF83\uFFFD\uFF83\u4EF0\uFF73\uFF83\uFFFD", U"\uFFFD\uFFFD",
       "eucjp read as latin1, then utf8 read as cp932", 2},
      // UTF-8 read as Latin-1, then as EUC-JP (コマンド): kanji alone are
      // no EUC-JP read as Latin-1 beneath (潟).
      {U"'%s' \u9054\uFFFD\uFFFD\u7D9A\u9054\uFFFD\uFFFD\uFFFD\uFFFD\u9054\uFFFD\uFFFD\u7D9A"
       U"\u9054\uFFFD\uFFFD\uFFFD\uFFFD",
       U"'%s' \uFFFD\uFFFD\uFFFD\uFFFD", "utf8 read as cp1252, then utf8 read as eucjp", 4},
      // UTF-8 read as cp932, then as EUC-JP: not the last turn alone, which
      // leaves half-width katakana of the first beside lost characters
      // (作業中).
      {U" [\uFFFD\u541A\uFFFD\uFFFD\u9414\u30EF\u81ED\uFFFD\uFFFD\u9C39\u81ED]", U" [\uFFFD\uFFFD]",
       "utf8 read as cp932, then utf8 read as eucjp", 2},
      // Nor UTF-8 read as cp1252 beneath where the leads of its characters
      // are gone (ã..é come through whole): cp932 read as cp1252 (平均負荷).
      {U"load average\t\uFFFD\uFFFD\uFFFD\u905C\uFFFD\uFFFD\u7532\uFFFD\uFFFD\uFFFD\u2252\uFFFD"
       U"\u8B02\uFFFD\u5EB5\uFFFD",
       U"load average\t\uFFFD\uFFFD", "cp932 read as cp1252, then utf8 read as eucjp", 2},
      // UTF-8 read as cp932, then as EUC-JP, where nothing is left but 鐔,
      // the first bytes of ｢ and ｨ in UTF-8 (痛風 as 逞幃｢ｨ): one character
      // lost beneath the two turns, not four of the last alone.
      {U"\uFFFD\uFFFD\uFFFD\u7D9B\uFFFD\u9414\uFFFD\u9414\uFFFD", U"\uFFFD",
       "utf8 read as cp932, then utf8 read as eucjp", 1},
      // UTF-8 read as EUC-JP twice: its U+FFFD read as EUC-JP is 鐃緒申
      // (タイプ).
      {U"\u9403\u7DD2\u7533\u7D7D\u30EF\u7533\uFFFD\uFFFD\uFFFD\u9403\u7DD2\u7533",
       U"\uFFFD\uFFFD\uFFFD", "utf8 read as eucjp twice", 3},
      // That alone tells the turns where nothing else came through (月).
      {U"Date: 25 1 \u9403\u7DD2\u7533\u9403\uFFFD 2023", U"Date: 25 1 \uFFFD 2023",
       "utf8 read as eucjp twice", 1},
      // Through a Western turn too; but U+FFFD read as cp1252 alone stays.
      {U"ï¿½ï¿½ï¿½ï¿½ï¿½å\u00A0ºï¿½ï¿½", U"\uFFFD\uFFFD\uFFFD",
       "utf8 read as eucjp, then utf8 read as cp1252", 3},
      {U"ï¿½ï¿½ï¿½\nCafï¿½ï¿½ au lait", nullptr, "", 0},
      // But not Japanese that a reader damaged: what is left stands, its
      // bytes no UTF-8 of Japanese text around lost ones (a lead byte C7, a
      // lost run of two bytes).
      {U"PATH \uFFFD\uFFFD定\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDせ\uFFFD", nullptr, "", 0},
      {U"\uFFFD\uFFFD\uFFFDデ\uFFFD\uFFFD\uFFFD", nullptr, "", 0},
      {U"\uFFFD\uFFFDワ\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", nullptr, "", 0},
      {U"CCITT G3 \uFFFDァ\uFFFD\uFFFD\uFFFD画\uFFFD", nullptr, "", 0},
      // A byte reading before UTF-8 read as cp932 that lost all it read
      // only pairs the U+FFFD: no evidence of its own.
      {U"STABS \uFFFD\uFFFD\uFFFD\uFFFD情\uFFFDを生\uFFFD\uFFFDる", nullptr, "", 0},
      // Nor one whose hiragana UTF-8 of Japanese text read as cp932 or
      // EUC-JP never gives (を, の), when its bytes fall into place; ゑ,
      // 82 EF in cp932, is such mojibake's (ﾄ is EF BE 84).
      {U"縺ｩ縺\uFFFD26819 encoding \uFFFD\uFFFDゑｾвelease",
       U"ど\uFFFD26819 encoding \uFFFDﾄrelease", "utf8 read as cp932", 2},
      {U"\uFFFD\uFFFD\uFFFD\uFFFDーを起\uFFFD\uFFFD\uFFFD後\uFFFD以\uFFFD\uFFFD\uFFFDう"
       U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDい\uFFFD",
       nullptr, "", 0},
      {U"GSSAPI\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDり\uFFFD\uFFFD\uFFFD\uFFFDのメ\uFFFDリ"
       U"\uFFFD\uFFFD(%d)",
       nullptr, "", 0},
      // A symbol that cp932 has twice, each code where the UTF-8 around it
      // needs it (∵ as 81 E6, ≡ as 87 91).
      {U"隕∵ｱよ鴛鬆宣≡/", U"要求払預金/", "utf8 read as cp932", 0},
      // One kana between stripped escapes, or one kanji whose stretch no
      // shell or Perl name holds, of level 2 too (筧); $B8G may be a
      // variable, $B?) may not.
      {U"$B$O(B", U"は", "jis without ESC", 0},
      {U"OldestMulti$B$N(BDB:.txt", U"OldestMultiのDB:.txt", "jis without ESC", 0},
      {U"#2$B?)(B", U"#2食", "jis without ESC", 0},
      {U"$Bd*(B.txt", U"筧.txt", "jis without ESC", 0},
      {U"$B8G(B", nullptr, "", 0},
      // "$@" of a shell, where no kanji follow, is itself.
      {U"`in WORDS ...;' $B$,B8:_$7$J$$>l9g!\"(B`in \"$@\"' $B$G$\"$k$H8+$J$5$l$^$9!#(B",
       U"`in WORDS ...;' が存在しない場合、`in \"$@\"' であると見なされます。", "jis without ESC",
       0},
      // Nor are they words of one letter before kanji (%s番号), and
      // half-width katakana of EUC-JP (8E and the kana's byte) is told by
      // its bytes alone, even in a short name.
      {U"%s\u00C8\u00D6\u00B9\u00E6: %s%%0A\u00CA\u00DD\u00BB\u00FD\u00BC\u00D4: %s%s",
       U"%s番号: %s%%0A保持者: %s%s", "eucjp read as latin1", 0},
      {U"6233,\u008E\u00BC\u008E\u00D9\u008E\u00BC.txt", U"6233,ｼﾙｼ.txt", "eucjp read as latin1",
       0},
      // EUC-JP read as Latin-1, then UTF-8 read as EUC-JP loses C2 and C3
      // before 8E, which reads as SS2 with the next lead (U+FFFD ﾂ): the
      // letter was SS2 itself (U+008E) or the trail byte of の (U+00CE),
      // whichever fits where it stands.
      {U"6209,\uFFFD\uFF83\uFFFD\uFFFD\uFF83\uFFFD\uFFFD\uFF82\u86CE\uFF82\u5B9F\uFF82"
       U"\uFFFD \uFFFD\uFF82\u6CBC\uFF83\uFFFD\uFFFD\uFF83\uFFFD\uFFFD\uFF82\u5B9F\uFF83"
       U"\uFFFD\uFFFD\uFF82\u5F84\uFF83\uFFFD\uFFFD\uFF82\u6F97\uFF83\uFFFD,\uFFFD\uFF83"
       U"\uFFFD\uFFFD\uFF82\uFFFD\uFFFD\uFF82\u5B9F\uFF82\uFFFD,57775",
       U"6209,\uFFFD\uFFFDｳｼ\uFFFD ｾ\uFFFD\uFFFDｼ\uFFFDｷ\uFFFDｴ\uFFFD,\uFFFD\uFFFDｼ\uFFFD,57775",
       "eucjp read as latin1, then utf8 read as eucjp", 11},
      {U"\u4FC3\uFFFD\uFFFD\u4FC3\u81D3\u4FC3\u9020\u4FC3\u8C37\u9020\uFFFD\uFF83\uFFFD"
       U"\u4ED6\uFFFD\uFFFD\u5C5E",
       U"\uFFFDァイルの\uFFFD\uFFFD", "eucjp read as latin1, then utf8 read as eucjp", 3},
      // C1 controls that cp1252 reads as marks, but two in a row that no
      // Western text holds (–– and “–): cp932 pairs read as Latin-1.
      {U"\u0092[\u0096\u0096", U"端末", "cp932 read as latin1", 0},
      {U"\u0093\u0096\u0093X", U"当店", "cp932 read as latin1", 0},
      // printf conversions before Japanese words are no Latin words.
      {U"%li“ú %liŽžŠÔ %li•ª %li•b", U"%li日 %li時間 %li分 %li秒", "cp932 read as cp1252", 0},
      // A line not clear by itself waits for the next line that decides:
      // repaired with the same turns, it takes the waiting line back too.
      {U".SH ŒŽ\n‚±‚ñ‚É‚¿‚Í", U".SH 月\nこんにちは", "cp932 read as cp1252", 0},
      // A clean line (Café) leaves the waiting lines as they stand; Japanese
      // text with a character lost, an alphabet, accented letters inside a
      // word and Western text that ends in an accent stay too.
      {U"ŒŽ\nCafé\n", nullptr, "", 0},
      {U"古い\uFFFD機能\nÀÁÂÃÄÅÆÇÈÉÊËÌÍÎÏÐÑÒÓÔÕÖØÙÚÛÜÝÞ\nFörövrigt har den", nullptr, "", 0},
      {U"Caf\u00E9\n\u00C3\u00A9t\u00E9", nullptr, "", 0},
      // So does UTF-8 of Vietnamese, of Hebrew with a Greek letter and of
      // Chinese (键值) read as Latin-1: their bytes read as cp932 give
      // kanji and half-width katakana that score well.
      {U"\u00C4\u0090\u00E1\u00BA\u00A3o Jarvis", nullptr, "", 0},
      {U"\u00D7\u0090\u00D7\u0099\u00D7\u00A6\u00D7\u0098\u00D7\u0099\u00D7\u00A7"
       U"\u00D7\u00A2 \u00CE\u00B1",
       nullptr, "", 0},
      {U"\u00E9\u0094\u00AE\u00E5\u0080\u00BC?", nullptr, "", 0},
      // Its C1 controls are bytes of that UTF-8 (8F of 參), not the
      // evidence of a cp932 reading (辟｡謨亥純謨ｸ).
      {U"\u00E7\u201E\u00A1\u00E6\u2022\u02C6\u00E5\u008F\u0192\u00E6\u2022\u00B8", nullptr, "", 0},
      // Western mojibake of Western text (Çäçänçä, Welsh Yn Ôl read as
      // Latin-1): the controls are explained by that turn alone, and tell
      // nothing of a cp932 reading beneath it (ﾇ蓍舅鈕).
      {U"\u00C3\u0087\u00C3\u00A4\u00C3\u00A7\u00C3\u00A4n\u00C3\u00A7\u00C3\u00A4", nullptr, "",
       0},
      {U"_Yn \u00C3\u0094l", nullptr, "", 0},
      // Cyrillic же read as cp1252: half-width katakana of the bytes of
      // UTF-8 letters, pair by pair (ﾐｶﾐｵ), is no ledger.
      {U"  \u00D0\u00B6\u00D0\u00B5: ", nullptr, "", 0},
      // Chinese 藏語: its EUC-JP bytes end in the middle of a character of
      // UTF-8, which no reading of a whole line lost.
      {U"藏語", nullptr, "", 0},
      // Japanese lines a reader damaged: kana that no reading of the UTF-8
      // beneath gives (パ, ト as EUC-JP; の, る as cp932 beneath a Western
      // turn) are the text itself.
      {U"Unicode \uFFFD\uFFFD\uFFFDパ\uFFFD\uFFFDット\uFFFD\uFFFD\uFFFD", nullptr, "", 0},
      {U"\uFFFD\uFFFDビ\uFFFD\uFFFDで\uFFFDgzip\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDト\uFFFD\uFFFD"
       U"\uFFFDま\uFFFD\uFFFD",
       nullptr, "", 0},
      {U"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD解決\uFFFD\uFFFDす\uFFFD\uFFFD\uFFFDの"
       U"\uFFFD\uFFFDグ\uFFFD\uFFFD\uFFFDある\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD.txt",
       nullptr, "", 0},
  };
  for (const RepairCase& c : cases) {
    const std::u32string text = c.text;
    const Repaired done = repair(text);
    const std::u32string want = c.repaired == nullptr ? text : std::u32string(c.repaired);
    EXPECT_TRUE(done.text == want) << c.chain;
    if (*c.chain == '\0') {
      EXPECT_TRUE(done.repairs.empty());
      continue;
    }
    ASSERT_EQ(done.repairs.size(), 1u) << c.chain;
    EXPECT_EQ(done.repairs[0].chain, c.chain);
    EXPECT_EQ(done.repairs[0].lost, c.lost) << c.chain;
  }
}

// A line that waits is decided by the next line that decides: here a date
// whose kanji lost a byte and a character after it more, taken back (with
// U+FFFD) by the repaired line after it, and the same line left as it
// stands when more lines than the look ahead holds come between.
TEST(RepairTest, WaitingLines) {
  const std::u32string date = U".\\\" Date: 25 1 譛\uFFFD 2023 \uFFFD\n";
  const std::u32string mojibake = U"縺薙ｓ縺ｫ縺｡縺ｯ";
  std::u32string between;
  for (int i = 0; i < 47; ++i) between += U".PP\n";
  Repaired done = repair(date + between + mojibake);
  ASSERT_EQ(done.repairs.size(), 2u);
  EXPECT_EQ(done.repairs[0].line, 1u);
  EXPECT_EQ(done.repairs[0].lost, 2u);
  EXPECT_TRUE(done.text == U".\\\" Date: 25 1 \uFFFD 2023 \uFFFD\n" + between + U"こんにちは");
  done = repair(date + between + U".PP\n.PP\n" + mojibake);
  ASSERT_EQ(done.repairs.size(), 1u);
  EXPECT_EQ(done.repairs[0].line, 51u);
}

// A line that reads alike through cp437 and cp850 leaves the choice to the
// lines after it: 説明 that lost its first character is 慢 through cp437,
// the reading of こんにちは before it.
TEST(RepairTest, Cp437OrCp850) {
  const Repaired done = repair(
      U"\u8FBF\uFFFD\uFFFD\uFFFD\u8FBF\u8CCA\u8FBF\uFFFD\uFFFD\uFFFD\u8FBF\uFFFD\uFFFD\uFFFD"
      U"\u8FBF\uFFFD\uFFFD\uFFFD\n\uFFFD\uFFFD\uFFFD\uFFFD\u77ED\u4FC3");
  EXPECT_TRUE(done.text == U"\uFFFDん\uFFFD\uFFFD\uFFFD\n\uFFFD明");
}

// Lines in a row that took the same turns are one stretch, placed by the
// characters and lines of the text given.
TEST(RepairTest, Stretches) {
  const Repaired done = repair(U"title\n‚±‚ñ‚É‚¿‚Í\n‚±‚ñ‚É‚¿‚Í\nend\n¤³¤ó¤Ë¤Á¤Ï");
  ASSERT_EQ(done.repairs.size(), 2u);
  EXPECT_EQ(done.repairs[0].line, 2u);
  EXPECT_EQ(done.repairs[0].start, 6u);
  EXPECT_EQ(done.repairs[0].end, 27u);
  EXPECT_EQ(done.repairs[1].chain, "eucjp read as latin1");
  EXPECT_EQ(done.repairs[1].line, 5u);
  EXPECT_TRUE(done.text == U"title\nこんにちは\nこんにちは\nend\nこんにちは");
}

}  // namespace
}  // namespace mek::test
