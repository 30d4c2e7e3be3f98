// game/bosses/story.cpp - stage 1: the pilot Mio flies into a spring haze
// that will not lift. A mail-carrier swallow takes her for a letter thief; the
// lady of the hazy valley turns out to be hoarding the haze as a quilt.
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

template <size_t N>
constexpr Dialogue Talk(const DialogueStep (&steps)[N]) {
  return Dialogue{steps, N};
}

const Dialogue kBoss1AEntry = Talk(kBoss1AEntrySteps);
const Dialogue kBoss1APost = Talk(kBoss1APostSteps);
const Dialogue kBoss1BEntry = Talk(kBoss1BEntrySteps);
const Dialogue kBoss1BPost = Talk(kBoss1BPostSteps);

}  // namespace

const char kStage1MusicCredit[] = "♪ 春霞の渡り鳥";

const BossStory kBossStories[kBossCount] = {
    {"速達の配達鳥 ツバメ", nullptr, &kBoss1AEntry, &kBoss1APost},
    {"霞の谷のお昼寝姫 カスミ", "♪ 霞の布団で見る夢は", &kBoss1BEntry, &kBoss1BPost},
    {nullptr, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};
