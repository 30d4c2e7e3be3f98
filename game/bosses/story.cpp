// game/bosses/story.cpp - stage 1: the pilot Mio flies into a spring haze
// that will not lift. A mail-carrier swallow takes her for a letter thief; the
// lady of the hazy valley turns out to be hoarding the haze as a quilt.
//
// Stage 2: on the windy hill beyond the valley, a weathercock who cannot
// point one way sends Mio on to the windmill keeper, who is storing up the
// spring wind for summer and blowing the letters about.
//
// Stage 3: over the summer sea of clouds a lighthouse shines all day long. A
// seagull apprentice guards it; its keeper will not dim the lamp until the
// spring wind comes home, and the wind is only now being let go from the hill.
//
// Left side: Mio (the player's character). Right side: the boss.
#include "game/bosses/story.h"

#include <iterator>

namespace {

const DialogueStep kBoss1AEntrySteps[] = {
    {10, 1, 1, {"春なのに、前が全然見えないよ！", "", ""}, 11},
    {11, 2, 1, {"そこのあなた！止まりなさい！", "", ""}, 12},
    {12, 1, 1, {"え、わたし？", "ただのお散歩飛行中だけど。", ""}, 14},
    {14, 2, 1, {"とぼけないで。", "春の手紙の袋を盗んだでしょう！", ""}, 15},
    {15, 1, 1, {"手紙泥棒？失礼しちゃうなあ。", "霞の原因を調べに来ただけだよ。", ""}, 16},
    {16, 2, 1, {"問答無用！配達鳥ツバメ、", "速達で撃ち落としてあげる！", ""}, 17},
    {17, 1, 1, {"速達って、そういう意味だっけ？", "", ""}, 50},
};

const DialogueStep kBoss1APostSteps[] = {
    {10, 1, 1, {"ほら、袋なんて持ってないよ。", "霞の奥の谷が怪しいと思うな。", ""}, 11},
    {11, 2, 1, {"うう…谷の主に聞いてみなさい！", "", ""}, 12},
    {12, 1, 1, {"言われなくても行くってば。", "", ""}, 50},
};

const DialogueStep kBoss1BEntrySteps[] = {
    {10, 2, 1, {"ふああ…だあれ？", "わたしのお昼寝を邪魔するのは。", ""}, 11},
    {11, 1, 2, {"この霞、あなたの仕業だね？", "おかげで春の手紙が届かないの！", ""}, 12},
    {12, 2, 2, {"霞はお布団なの。返さないわ！", "", ""}, 50},
};

const DialogueStep kBoss1BPostSteps[] = {
    {10, 2, 1, {"負けたわ…お布団、片付けます。", "ついでに袋も返すわね。", ""}, 11},
    {11, 1, 1, {"やっぱり持ってたんだ！", "ツバメさんに謝っておいてよ。", ""}, 12},
    {12, 2, 1, {"だって手紙の匂いが", "ぽかぽかして眠くなるんだもの。", ""}, 15},
    {15, 1, 1, {"はいはい、配達はわたしが", "手伝うから、早く起きてね。", ""}, 16},
    {16, 2, 1, {"…あと五分だけ寝かせて。", "", ""}, 17},
    {17, 2, 1, {"おやすみなさーい。", "", ""}, 50},
};

const DialogueStep kBoss2AEntrySteps[] = {
    {10, 2, 1, {"風向きよーし、北北西！", "あら、見かけない飛行機ね。", ""}, 11},
    {11, 1, 1, {"手紙の配達中なんだ。", "丘の風車小屋ってどっち？", ""}, 12},
    {12, 1, 1, {"…って、くるくる回ってるし。", "", ""}, 13},
    {13, 2, 1, {"風見鶏だもの、回るのが仕事よ。", "", ""}, 14},
    {14, 1, 1, {"じゃあ道を教えてよ！", "", ""}, 15},
    {15, 2, 1, {"教えてほしければ勝ってみて！", "", ""}, 50},
};

const DialogueStep kBoss2APostSteps[] = {
    {10, 2, 1, {"目が回ったわ…。", "風車小屋なら、この風の先よ。", "でも今日の風は少し変なの。"}, 11},
    {11, 1, 1, {"変って、どういうこと？", "とにかく行ってみるね。", ""}, 12},
    {12, 2, 1, {"気をつけて。風車が", "止まらなくなってるみたい。", ""}, 50},
};

const DialogueStep kBoss2BEntrySteps[] = {
    {10, 2, 1, {"いらっしゃい、お客さん！", "", ""}, 11},
    {11, 1, 1, {"この強い風、あなたの風車？", "手紙が全部飛ばされそうだよ。", "少し止めてくれないかな。"}, 12},
    {12, 2, 1, {"止めるなんてとんでもない！", "春の風を集めて、夏まで", "とっておく大事な仕事なの。"}, 14},
    {14, 2, 1, {"邪魔するなら、風車の羽で", "くるくる吹き飛ばしてあげる！", ""}, 50},
};

const DialogueStep kBoss2BPostSteps[] = {
    {10, 2, 1, {"ああっ、羽が止まっちゃった…。", "", ""}, 11},
    {11, 1, 1, {"集めすぎは良くないよ。", "風は配達の仲間なんだから。", ""}, 13},
    {13, 2, 1, {"わかったわ。ためた風は", "少しずつ空に返していくね。", ""}, 14},
    {14, 1, 1, {"うん。それじゃ、次の手紙を", "届けに行ってくるね！", ""}, 50},
};

const DialogueStep kBoss3AEntrySteps[] = {
    {10, 1, 1, {"わあ、雲の海だ！まぶしい！", "", ""}, 11},
    {11, 2, 1, {"そこの飛行機、止まって！", "", ""}, 12},
    {12, 1, 1, {"ねえ、この光はなあに？", "昼なのに目がくらくらするよ。", ""}, 13},
    {13, 2, 1, {"灯台の光よ。今年の夏は", "一日中ずっと灯してるの。", ""}, 15},
    {15, 2, 1, {"光に近づく者は通すなって", "灯台守さまに言われてるの。", ""}, 16},
    {16, 1, 1, {"でも手紙はあの灯台の先に", "届けなきゃいけないんだ。", ""}, 17},
    {17, 2, 1, {"だったらお通しできないわ。", "見習いカモメのウミが", "雲の下まで追い返してあげる！"}, 50},
};

const DialogueStep kBoss3APostSteps[] = {
    {10, 1, 1, {"ふう、目が回りそう…。", "", ""}, 11},
    {11, 2, 1, {"負けちゃった…。", "でも灯台守さまは手ごわいわよ。", ""}, 13},
    {13, 2, 1, {"光を消したら大事なものが", "迷子になるって言ってたの。", ""}, 16},
    {16, 1, 1, {"大事なもの？", "", ""}, 18},
    {18, 2, 1, {"わたしも知らないの。", "直接聞いてみたら？", ""}, 19},
    {19, 1, 1, {"うん、そうする。", "ウミちゃん、案内ありがとう。", "また帰りに寄るね！"}, 50},
};

const DialogueStep kBoss3BEntrySteps[] = {
    {10, 1, 1, {"灯台のてっぺんに誰かいる…。", "", ""}, 11},
    {11, 2, 1, {"ようこそ、雲海の灯台へ。", "わたしは灯台守のヒカリ。", "夜も昼も光を守っているわ。"}, 12},
    {12, 1, 1, {"昼まで灯さなくてもいいのに。", "", ""}, 13},
    {13, 2, 1, {"だめよ、消したら迷子になるの。", "", ""}, 14},
    {14, 1, 1, {"迷子って、誰が？", "この光で雲がみんな逃げてるよ。", ""}, 15},
    {15, 2, 1, {"春の風がまだ帰ってこないの。", "この光だけが目印なのよ。", ""}, 16},
    {16, 2, 1, {"邪魔をするなら、あなたも", "光の中で迷子にしてあげる！", ""}, 50},
};

const DialogueStep kBoss3BPostSteps[] = {
    {10, 2, 1, {"光が…消えちゃった…。", "", ""}, 11},
    {11, 1, 1, {"見て、風が帰ってきたよ！", "", ""}, 13},
    {13, 1, 1, {"風車の丘で集めてた春の風、", "少しずつ空に返してるんだ。", ""}, 14},
    {14, 2, 1, {"本当だわ…。夜だけ灯せば", "ちゃんと見つけてくれるのね。", ""}, 15},
    {15, 1, 1, {"じゃあ次の手紙、届けてくるね！", "", ""}, 50},
};

template <size_t N>
constexpr Dialogue Talk(const DialogueStep (&steps)[N]) {
  return Dialogue{steps, N};
}

const Dialogue kBoss1AEntry = Talk(kBoss1AEntrySteps);
const Dialogue kBoss1APost = Talk(kBoss1APostSteps);
const Dialogue kBoss1BEntry = Talk(kBoss1BEntrySteps);
const Dialogue kBoss1BPost = Talk(kBoss1BPostSteps);
const Dialogue kBoss2AEntry = Talk(kBoss2AEntrySteps);
const Dialogue kBoss2APost = Talk(kBoss2APostSteps);
const Dialogue kBoss2BEntry = Talk(kBoss2BEntrySteps);
const Dialogue kBoss2BPost = Talk(kBoss2BPostSteps);
const Dialogue kBoss3AEntry = Talk(kBoss3AEntrySteps);
const Dialogue kBoss3APost = Talk(kBoss3APostSteps);
const Dialogue kBoss3BEntry = Talk(kBoss3BEntrySteps);
const Dialogue kBoss3BPost = Talk(kBoss3BPostSteps);

}  // namespace

const char kStage1MusicCredit[] = "♪ 春霞の渡り鳥";
const char kStage2MusicCredit[] = "♪ 風見の丘の郵便飛行";
const char kStage3MusicCredit[] = "♪ 夏雲の果ての灯台";

const BossStory kBossStories[kBossCount] = {
    {"速達の配達鳥 ツバメ", nullptr, &kBoss1AEntry, &kBoss1APost},
    {"霞の谷のお昼寝姫 カスミ", "♪ 霞の布団で見る夢は", &kBoss1BEntry, &kBoss1BPost},
    {"回る風見鶏 クルリ", nullptr, &kBoss2AEntry, &kBoss2APost},
    {"丘の風車守り ミル", "♪ 回れ回れ風車", &kBoss2BEntry, &kBoss2BPost},
    {"見習いカモメ ウミ", nullptr, &kBoss3AEntry, &kBoss3APost},
    {"雲海の灯台守 ヒカリ", nullptr, &kBoss3BEntry, &kBoss3BPost},
    {kBoss4Caption, kBoss4MusicCredit, &kBoss4Entry, &kBoss4Post},
    {kBoss5Caption, kBoss5MusicCredit, &kBoss5Entry, &kBoss5Post},
};
