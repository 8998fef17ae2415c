// The segmenter against the pristine cppjieba v5.4.0, built from the same data files: the words
// of both cuts, as (offset, size) in the sentence, on the novel of the library's test data, on
// random text over all planes and random bytes, and with user dictionaries of every kind.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cppjieba/Jieba.hpp"
#include "segmenter/segmenter.h"

namespace {

using pytarntext::segmenter::Segmenter;
using pytarntext::segmenter::WordSpan;
using Words = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

const std::string kDict = PYTARNTEXT_DICT_DIR;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string utf8(std::uint32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// Both segmenters over one set of user dictionaries (each the text of one file).
class Pair {
 public:
  explicit Pair(const std::vector<std::string>& user_texts, const std::string& joiner = "|") {
    const std::string folder = (std::filesystem::temp_directory_path() /
                                ("segmenter_identity_" + std::to_string(getpid())))
                                   .string();
    std::filesystem::create_directories(folder);
    std::string paths;
    std::vector<std::string_view> views;
    for (std::size_t i = 0; i < user_texts.size(); ++i) {
      const std::string path = folder + "/user" + std::to_string(i);
      std::ofstream(path, std::ios::binary) << user_texts[i];
      paths += (i == 0 ? "" : joiner) + path;
      views.push_back(user_texts[i]);
    }
    _main = read_file(kDict + "/jieba.dict.utf8");
    _pristine =
        std::make_unique<cppjieba::Jieba>(kDict + "/jieba.dict.utf8", kDict + "/hmm_model.utf8",
                                          paths, kDict + "/idf.utf8", kDict + "/stop_words.utf8");
    _ours = std::make_unique<Segmenter>(_main, read_file(kDict + "/hmm_model.utf8"), views);
    std::filesystem::remove_all(folder);
  }

  // The first sentence whose words differ, in a message; empty when all agree.
  std::string compare(const std::string& sentence) const {
    for (const bool search : {false, true}) {
      std::vector<cppjieba::Word> expected;
      std::vector<WordSpan> spans;
      if (search) {
        _pristine->CutForSearch(sentence, expected, true);
        _ours->cut_for_search(sentence, spans);
      } else {
        _pristine->Cut(sentence, expected, true);
        _ours->cut(sentence, spans);
      }
      Words want, got;
      for (const auto& word : expected) {
        want.emplace_back(word.offset, static_cast<std::uint32_t>(word.word.size()));
      }
      for (const auto& span : spans) got.emplace_back(span.offset, span.size);
      if (want != got) {
        std::ostringstream message;
        message << (search ? "cut_for_search" : "cut") << " differs on a sentence of "
                << sentence.size() << " bytes: " << sentence.substr(0, 300) << "\n";
        for (std::size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
          if (i < want.size() && i < got.size() && want[i] == got[i]) continue;
          message << "word " << i << ": expected "
                  << (i < want.size() ? sentence.substr(want[i].first, want[i].second) : "<none>")
                  << ", got "
                  << (i < got.size() ? sentence.substr(got[i].first, got[i].second) : "<none>");
          break;
        }
        return message.str();
      }
    }
    return {};
  }

 private:
  std::string _main;
  std::unique_ptr<cppjieba::Jieba> _pristine;
  std::unique_ptr<Segmenter> _ours;
};

const Pair& plain() {
  static const Pair pair({""});
  return pair;
}

std::vector<std::string> novel_lines() {
  std::vector<std::string> lines;
  std::istringstream in(read_file(std::string(PYTARNTEXT_TEST_DATA_DIR) + "/weicheng.utf8"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Characters of every kind: the novel's, ASCII letters, digits, dots and separators, and code
// points anywhere in the 17 planes.
class RandomText {
 public:
  explicit RandomText(std::uint32_t seed) : _random(seed) {
    const std::string novel = read_file(std::string(PYTARNTEXT_TEST_DATA_DIR) + "/weicheng.utf8");
    for (std::size_t at = 0; at + 3 <= novel.size() && _novel.size() < 4000; at += 3 * 97) {
      if (static_cast<unsigned char>(novel[at]) >= 0xE0) _novel.push_back(novel.substr(at, 3));
    }
  }

  std::string text(std::size_t characters) {
    std::string out;
    for (std::size_t i = 0; i < characters; ++i) {
      switch (_random() % 8) {
        case 0:
          out += "aZ09.  \t\n，。x-"[_random() % 15];
          break;
        case 1: {
          std::uint32_t c = _random() % 0x110000;
          if (c >= 0xD800 && c < 0xE000) c = 0x4E00 + c % 0x5000;
          out += utf8(c);
          break;
        }
        default:
          out += _novel[_random() % _novel.size()];
      }
    }
    return out;
  }
  std::string bytes(std::size_t size) {
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(_random() % 256);
    return out;
  }
  // A run of the novel's text, which holds dictionary words.
  std::string novel_run(const std::vector<std::string>& lines) {
    return lines[_random() % lines.size()];
  }

 private:
  std::mt19937 _random;
  std::vector<std::string> _novel;
};

TEST(SegmenterIdentity, NovelLineByLineAndWhole) {
  const auto lines = novel_lines();
  ASSERT_GT(lines.size(), 200u);
  std::string whole;
  for (const std::string& line : lines) {
    ASSERT_EQ(plain().compare(line), "");
    whole += line + "\n";
  }
  ASSERT_EQ(plain().compare(whole), "");
}

TEST(SegmenterIdentity, RandomTextOverAllPlanesAndRandomBytes) {
  RandomText random(20261209);
  const auto lines = novel_lines();
  for (int round = 0; round < 3000; ++round) {
    const std::size_t size = 1 + round % 97;
    std::string sentence = random.text(size);
    if (round % 3 == 0) sentence = random.novel_run(lines) + sentence + random.novel_run(lines);
    ASSERT_EQ(plain().compare(sentence), "") << "round " << round;
  }
  // Bytes the decoder gives up on give no words; the others, whatever they are, the same words.
  for (int round = 0; round < 2000; ++round) {
    std::string sentence = random.bytes(1 + round % 40);
    if (round % 2 == 0) sentence = random.novel_run(lines).substr(0, 60) + sentence;
    ASSERT_EQ(plain().compare(sentence), "") << "round " << round;
  }
}

TEST(SegmenterIdentity, LongRunsPastTheLongestDictionaryWord) {
  std::string long_word;
  for (int i = 0; i < 300; ++i) long_word += "中国";
  const Pair pair({long_word + "\n" + long_word.substr(0, 3 * 520) + " 3 n\n"});
  RandomText random(7);
  EXPECT_EQ(pair.compare(long_word + long_word + "中国人民"), "");
  EXPECT_EQ(pair.compare(std::string(5000, 'a') + "1.2.3" + random.text(3000)), "");
  EXPECT_EQ(pair.compare(random.text(20000)), "");
}

struct UserCase {
  const char* name;
  std::vector<std::string> files;
  const char* joiner;
};

class SegmenterUserDictionary : public testing::TestWithParam<UserCase> {};

TEST_P(SegmenterUserDictionary, SameWords) {
  const Pair pair(GetParam().files, GetParam().joiner);
  const auto lines = novel_lines();
  RandomText random(11);
  std::vector<std::string> sentences = {"我来到北京清华大学",
                                        "他来到了网易杭研大厦",
                                        "小明硕士毕业于中国科学院计算所",
                                        "云计算和区块链是蓝翔的韩玉鉴赏",
                                        "iPhone6 和 iPhone X 的价格",
                                        "的的的了了了",
                                        "清华大学华大学大学",
                                        "忽如一夜春风来千树万树梨花开",
                                        "A B C 令狐冲 abc123.45"};
  for (std::size_t i = 0; i < lines.size(); i += 7) sentences.push_back(lines[i]);
  for (int i = 0; i < 300; ++i) sentences.push_back(random.text(1 + i % 60));
  for (const std::string& sentence : sentences) ASSERT_EQ(pair.compare(sentence), "");
}

std::string testdata(const char* name) {
  return read_file(std::string(PYTARNTEXT_TEST_DATA_DIR) + "/" + name);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SegmenterUserDictionary,
    testing::Values(
        UserCase{"NewWords", {"云计算\n韩玉鉴赏\n蓝翔 nz\n区块链 10 nz\n令狐冲 3 nr\n"}, "|"},
        UserCase{"MainWordsOtherWeightsAndTags",
                 {"清华大学 1 n\n北京 100000 ns\n来到 x\n大学 2.5 n\n华大 12ab n\n"},
                 "|"},
        UserCase{"SingleCharacters", {"的\n了 5 u\n华\nA\n"}, "|"},
        UserCase{
            "RepeatedLines", {"区块链 5 n\n区块链 50000 n\n北京 3 n\n北京\n北京 900 n\n"}, "|"},
        UserCase{"OddLines", {"word 5\tn\n清华\r\n \n  \n大学 7\n\n蓝翔\t5 n\n北京  n\n"}, "|"},
        UserCase{"UndecodableWordIsSkipped", {"\xff\xfe 3 n\n云计算\n"}, "|"},
        UserCase{"SeveralFilesJoinedByBar",
                 {"云计算 10 n\n", "云计算 1 n\n清华大学 1 n\n", "韩玉鉴赏\n"},
                 "|"},
        UserCase{"SeveralFilesJoinedBySemicolon", {"蓝翔 nz\n", "", "的\n区块链\n"}, ";"},
        UserCase{
            "LibraryTestData",
            {testdata("userdict.utf8"), testdata("userdict.2.utf8"), testdata("userdict.english")},
            "|"},
        UserCase{"DefaultUserDictionary", {read_file(kDict + "/user.dict.utf8")}, "|"}),
    [](const testing::TestParamInfo<UserCase>& info) { return std::string(info.param.name); });

TEST(Segmenter, AMillionCharacterWordIsBuiltCutAndFreedWithoutRecursion) {
  std::string word;
  for (int i = 0; i < 1000000; ++i) word += "中";
  std::string main = read_file(kDict + "/jieba.dict.utf8");
  main += word + " 3 n\n";
  auto segmenter = std::make_unique<Segmenter>(main, read_file(kDict + "/hmm_model.utf8"),
                                               std::vector<std::string_view>{word});
  std::vector<WordSpan> words;
  segmenter->cut(word.substr(0, 3 * 2000), words);
  EXPECT_FALSE(words.empty());
  segmenter.reset();
}

}  // namespace
