// game/bosses/story_finale.cpp - stages 4 and 5. On an autumn night Mio
// finds the moon's post office, whose keeper has been gathering every
// season's letters to read under the full moon; Mio promises to write to her.
// On a winter night a special flight takes that letter up to the stars, where
// the keeper of the sky's post sets the last test.
//
// Left side: Mio (the player's character). Right side: the boss.
#include "game/bosses/story.h"

namespace {

template <size_t N>
constexpr Dialogue Talk(const DialogueStep (&steps)[N]) {
  return Dialogue{steps, N};
}

const DialogueStep kBoss4EntrySteps[] = {
    {10, 1, 1, {"秋の夜空に、郵便ポスト…？", "しかも月の形をしてる。", ""}, 11},
    {11, 2, 1, {"ようこそ、月の郵便局へ。", "", ""}, 12},
    {12, 1, 1, {"月の郵便局！？", "", ""}, 13},
    {13, 2, 1, {"春の手紙も、夏の便りも、", "みんな私が集めていたの。", "月見の夜に読むためにね。"}, 14},
    {14, 1, 1, {"それって、ただの横取りだよ！", "手紙は届けるものなんだから。", "返してもらうからね！"}, 15},
    {15, 2, 1, {"ふふ、配達係さんに", "この満月の弾幕が", "くぐり抜けられるかしら？"}, 16},
    {16, 1, 1, {"くぐり抜けるのが", "わたしの仕事だよ。", "消印、押させてもらうね！"}, 50},
};

// No step 12: step 11 leads to 13.
const DialogueStep kBoss4PostSteps[] = {
    {10, 2, 1, {"負けちゃった…。", "満月も欠けてしまいそう。", ""}, 11},
    {11, 1, 1, {"さあ、手紙を返して。", "みんな待ってるんだから。", ""}, 13},
    {13, 1, 1, {"どうして手紙を集めたの？", "読むだけなら頼めばいいのに。", ""}, 14},
    {14, 2, 1, {"月には誰も手紙を", "書いてくれないのよ。", "だから、少し羨ましくて。"}, 15},
    {15, 1, 1, {"そっか…。", "じゃあ、わたしが書くよ。", "月の郵便局あてに。"}, 16},
    {16, 1, 1, {"春の霞のこと、丘の風のこと、", "夏の雲の灯台のこと。", "今日の配達のこと全部。"}, 17},
    {17, 1, 1, {"返事は満月の夜でいいから。", "ちゃんと届けに来るね。", "約束するよ。"}, 18},
    {18, 2, 1, {"…ありがとう。", "集めた手紙はみんな", "明日の朝には届けておくわ。"}, 19},
    {19, 1, 1, {"うん、おやすみなさい。", "", ""}, 20},
    {20, 2, 1, {"おやすみなさい、配達係さん。", "", ""}, 21},
    {21, 1, 1, {"さてと、帰りの便だ。", "今夜はよく眠れそう。", "次の配達も、がんばろう！"}, 50},
};

// Steps 18, 20, 22 and 26 do not exist: the boss speaks on through them.
const DialogueStep kBoss5EntrySteps[] = {
    {10, 1, 1, {"雪の夜の臨時便…", "宛先は星の上って本当？", ""}, 11},
    {11, 2, 1, {"本当よ。よく来たわね。", "", ""}, 12},
    {12, 1, 1, {"あなたは？", "", ""}, 13},
    {13, 2, 1, {"空の郵便の元締め、ユキネ。", "", ""}, 14},
    {14, 1, 1, {"元締めさん！", "月の郵便局への手紙を", "届けに来たんだけど。"}, 15},
    {15, 2, 1, {"知っているわ。", "でも星の上へ届ける手紙は", "試験に通った者しか運べないの。"}, 16},
    {16, 1, 1, {"試験？", "", ""}, 17},
    {17, 2, 1, {"春の霞、丘の風、", "夏の雲、秋の満月。", "あなたはみんな越えてきた。"}, 19},
    {19, 2, 1, {"けれど最後の空は冬の空。", "凍える風と星の雨の中を", "最後まで飛べるかしら。"}, 21},
    {21, 2, 1, {"落とした手紙は", "二度と戻らないわ。", "それでも飛ぶ？"}, 23},
    {23, 2, 1, {"答えは弾で聞かせてちょうだい。", "手加減はしないわよ。", ""}, 24},
    {24, 1, 1, {"もちろん飛ぶよ。", "手紙が待ってるもん。", ""}, 25},
    {25, 2, 1, {"いい返事ね。", "では、冬の星座の下で", "最終試験を始めましょう。"}, 27},
    {27, 2, 1, {"雪も星も、", "全部よけてみせなさい！", ""}, 28},
    {28, 1, 1, {"郵便飛行士ミオ、", "最終便、出発します！", ""}, 50},
};

const DialogueStep kBoss5PostSteps[] = {
    {10, 2, 1, {"…合格よ。", "", ""}, 11},
    {11, 1, 1, {"やったあ！", "", ""}, 12},
    {12, 2, 1, {"その手紙、確かに預かったわ。", "", ""}, 13},
    {13, 1, 1, {"ちゃんと月まで届けてね。", "返事も待ってるって伝えて。", ""}, 14},
    {14, 2, 1, {"ええ、必ず。", "", ""}, 15},
    {15, 1, 1, {"春から冬まで、", "いろんな空を飛んだなあ。", "みんな元気にしてるかな。"}, 16},
    {16, 2, 1, {"あなたの手紙が届いた場所よ。", "", ""}, 17},
    {17, 1, 1, {"そっか。", "じゃあ、また次の春に", "みんなに会いに行こう。"}, 18},
    {18, 2, 1, {"次の配達も頼んだわよ、", "郵便飛行士さん。", ""}, 19},
    {19, 1, 1, {"はい、おまかせください！", "", ""}, 50},
};

}  // namespace

const Dialogue kBoss4Entry = Talk(kBoss4EntrySteps);
const Dialogue kBoss4Post = Talk(kBoss4PostSteps);
const Dialogue kBoss5Entry = Talk(kBoss5EntrySteps);
const Dialogue kBoss5Post = Talk(kBoss5PostSteps);

const char kBoss4Caption[] = "月見の郵便局長 ツキミ";
const char kBoss4MusicCredit[] = "♪ 満月ポストの消印";
const char kBoss5Caption[] = "雪夜の配達長 ユキネ";
const char kBoss5MusicCredit[] = "♪ 星座をめぐる速達便";

const char kStage4MusicCredit[] = "♪ 秋の夜長の郵便飛行";
const char kStage5MusicCredit[] = "♪ 雪降る夜の最終便";
