#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/catalog/transcript_document.h"

namespace korvel {
namespace {

TranscriptDocument withUtterances(std::vector<TranscriptUtterance> utterances) {
  TranscriptDocument document;
  document.utterances = std::move(utterances);
  return document;
}

TEST(TranscriptVttTest, RendersCuesByteForByte) {
  const TranscriptDocument document = withUtterances({
      {"a", 0.25, 2.0009, "Fish & chips <b>now</b>", {}, {}},
      {"b", 3661.5, 3725.125, "line one\r\n\r\nline two\rline three\n", " Ana <PM>\n", {}},
  });
  EXPECT_EQ(TranscriptArtifacts::vtt(document),
            "WEBVTT\n\n"
            "1\n00:00:00.250 --> 00:00:02.000\nFish &amp; chips &lt;b&gt;now&lt;/b&gt;\n"
            "\n"
            "2\n01:01:01.500 --> 01:02:05.125\n<v Ana &lt;PM&gt;>line one\nline two\nline three</v>\n");
}

TEST(TranscriptVttTest, ClampsTimesAndWidensEmptyCues) {
  const TranscriptDocument document = withUtterances({
      {"a", 5, 5, "same", {}, {}},
      {"b", -3, NAN, "negative", {}, {}},
      {"c", 400'000'000, 500'000'000, "far", {}, {}},
  });
  EXPECT_EQ(TranscriptArtifacts::vtt(document),
            "WEBVTT\n\n"
            "1\n00:00:05.000 --> 00:00:05.001\nsame\n\n"
            "2\n00:00:00.000 --> 00:00:00.001\nnegative\n\n"
            "3\n87660:00:00.000 --> 87660:00:00.001\nfar\n");
}

TEST(TranscriptVttTest, VoiceTagDropsControlsAndFoldsLineBreaks) {
  const TranscriptDocument document = withUtterances({
      {"a", 1, 2, "hi", "\x01\x02\x7f", {}},
      {"b", 2, 3, "yo", "Ana\r\nMaria\tSilva\x07", {}},
      {"c", 3, 4, "ok", "João\xE2\x80\xA8Pé", {}},
  });
  EXPECT_EQ(TranscriptArtifacts::vtt(document),
            "WEBVTT\n\n"
            "1\n00:00:01.000 --> 00:00:02.000\nhi\n\n"
            "2\n00:00:02.000 --> 00:00:03.000\n<v Ana MariaSilva>yo</v>\n\n"
            "3\n00:00:03.000 --> 00:00:04.000\n<v João Pé>ok</v>\n");
}

TEST(TranscriptVttTest, EmptyTranscriptIsJustTheHeader) {
  EXPECT_EQ(TranscriptArtifacts::vtt(withUtterances({})), "WEBVTT\n\n");
}

}  // namespace
}  // namespace korvel
