#pragma once

// What the money reader's files share: the character set, the search
// memory's storage, cell sampling and the pruned template search. Only the
// money reader's own files include this.

#include "hud/cash/money.h"

#include <cstddef>

namespace hud::moneyread {

constexpr char kDigits[] = "0123456789";
constexpr int kDigitCount = 10;
// Every digit and the "$".
constexpr std::size_t kMostCandidates = kDigitCount + 1;
// The soft digits' second look starts at the first look's rightmost digit,
// so it need not search far.
constexpr int kSoftRadius = 1;

// The 2 x 2 and 4 x 4 block forms of a money cell.
constexpr int kCoarseLength = (kMoneyCellColumns / 2) * (kMoneyCellRows / 2);
constexpr int kRoughColumns = kMoneyRoughColumns;
constexpr int kRoughRows = kMoneyRoughRows;
constexpr int kRoughLength = kMoneyRoughLength;
static_assert(kMoneyCellColumns % 4 == 0 && kMoneyCellRows % 4 == 0, "a 4 x 4 block is four 2 x 2 ones");

// The context's search memory, taken from the thread's pool on first use.
MoneySearch& searchOf(MoneyRowContext& ctx);
// `length` floats of the search memory for the context's strip.
float* stripStorage(MoneySearch& s, std::size_t length);

// sampleLineCell, normalised; into ctx.cell without `cell`.
void sampleNormalised(MoneyRowContext& ctx, double x, float* cell);
void sampleNormalised(MoneyRowContext& ctx, double x);

// Samples the cells at x + d0 .. x + d0 + k - 1 into ctx.block and scores
// each against every list: scores[l][q] is the best correlation of cell q
// with list l, kNoScore for a missing list. Each template is read once for the
// whole block.
void scoreOffsets(MoneyRowContext& ctx, double x, int d0, int k, const detail::TemplateList* const* lists,
                  int listCount, float (*scores)[kMoneyBlock]);

// For cands[i] (i < n) with its own centre centres[i]: the best score over
// its templates and the offsets d0 .. d0 + k - 1, and the first offset that
// reaches it, as scoreOffsets' loops give them, for at least the two
// best-scoring characters; every other one gets a score below those two.
// Scores below `floor` need not be exact: a character whose best stays
// below it may get any score below it. False, with nothing done, for
// centres or cells the bounds cannot serve.
bool searchCandidates(MoneyRowContext& ctx, const double* centres, Candidate* cands, std::size_t n, int d0,
                      int k, float floor = kNoScore);

// bestPosition(ctx, predicted[i], cands[i].character, 3) into
// cands[i] for i < n, with the same results: characters of one advance
// width are predicted at the same centre, and each distinct centre is
// sampled and normalised once for all the characters that share it.
void followPositions(MoneyRowContext& ctx, const double* predicted, Candidate* cands, std::size_t n);

} // namespace hud::moneyread
