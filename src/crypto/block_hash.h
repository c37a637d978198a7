// The part that MD5, SHA-1 and SHA-2 share: collecting input into blocks,
// counting the message length in bits, and the final padding. Each
// algorithm's context has the same fields (as in RFC 3174), with its own
// block size, state words and length words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/hash_result.h"
#include "crypto/secure_wipe.h"

namespace ha_internal {

// Adds `length` bytes to a bit count kept as two words; false when the count
// would pass the largest value the two words can hold.
inline bool addMessageBytes(uint32_t* low, uint32_t* high, size_t length) {
  const uint64_t bits = (static_cast<uint64_t>(*high) << 32) | *low;
  const uint64_t bytes = static_cast<uint64_t>(length);
  if (bytes > (UINT64_MAX - bits) / 8) return false;
  const uint64_t sum = bits + bytes * 8;
  *low = static_cast<uint32_t>(sum);
  *high = static_cast<uint32_t>(sum >> 32);
  return true;
}

inline bool addMessageBytes(uint64_t* low, uint64_t* high, size_t length) {
  const uint64_t bytes = static_cast<uint64_t>(length);
  const uint64_t addLow = bytes << 3;
  const uint64_t addHigh = (bytes >> 61) + (*low + addLow < addLow ? 1 : 0);
  if (*high > UINT64_MAX - addHigh) return false;
  *low += addLow;
  *high += addHigh;
  return true;
}

// Feeds `length` bytes: whole blocks go straight from the caller's buffer to
// `compress(state, blocks, count)`, the rest waits in the context's block.
template <typename Context, typename Compress>
int blockHashInput(Context* ctx, const void* data, size_t length, Compress compress) {
  constexpr size_t kBlock = sizeof(ctx->Message_Block);
  if (length == 0) return HA_SUCCESS;
  if (ctx == nullptr || data == nullptr) return HA_NULL;
  if (ctx->Computed) {
    ctx->Corrupted = HA_STATE_ERROR;
    return HA_STATE_ERROR;
  }
  if (ctx->Corrupted) return ctx->Corrupted;
  // A context whose fill index lies outside its block was damaged by its
  // owner; refuse it rather than write past the block.
  if (ctx->Message_Block_Index >= kBlock || !addMessageBytes(&ctx->Length_Low, &ctx->Length_High, length)) {
    ctx->Corrupted = HA_NULL;
    return HA_NULL;
  }

  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t index = ctx->Message_Block_Index;
  if (index > 0) {
    const size_t take = length < kBlock - index ? length : kBlock - index;
    memcpy(ctx->Message_Block + index, p, take);
    index += take;
    p += take;
    length -= take;
    if (index < kBlock) {
      ctx->Message_Block_Index = static_cast<uint32_t>(index);
      return HA_SUCCESS;
    }
    compress(ctx->Intermediate_Hash, ctx->Message_Block, 1);
  }
  const size_t blocks = length / kBlock;
  if (blocks > 0) {
    compress(ctx->Intermediate_Hash, p, blocks);
    p += blocks * kBlock;
    length -= blocks * kBlock;
  }
  memcpy(ctx->Message_Block, p, length);
  ctx->Message_Block_Index = static_cast<uint32_t>(length);
  return HA_SUCCESS;
}

// Pads the message with 0x80, zeros and the `tailSize`-byte length field
// `tail` at the end of the last block, compresses, and marks the context
// computed. The block and the length are wiped: the message may be secret.
template <typename Context, typename Compress>
void blockHashFinish(Context* ctx, const uint8_t* tail, size_t tailSize, Compress compress) {
  constexpr size_t kBlock = sizeof(ctx->Message_Block);
  uint8_t* block = ctx->Message_Block;
  size_t index = ctx->Message_Block_Index;
  block[index++] = 0x80;
  if (index > kBlock - tailSize) {
    memset(block + index, 0, kBlock - index);
    compress(ctx->Intermediate_Hash, block, 1);
    index = 0;
  }
  memset(block + index, 0, kBlock - tailSize - index);
  memcpy(block + kBlock - tailSize, tail, tailSize);
  compress(ctx->Intermediate_Hash, block, 1);
  secureWipe(block, kBlock);
  ctx->Message_Block_Index = 0;
  ctx->Length_Low = 0;
  ctx->Length_High = 0;
  ctx->Computed = 1;
}

// Checks common to every Result function: 0 when the digest may be written.
template <typename Context>
int blockHashResultCheck(Context* ctx, const void* digest) {
  constexpr size_t kBlock = sizeof(ctx->Message_Block);
  if (ctx == nullptr || digest == nullptr) return HA_NULL;
  if (ctx->Corrupted) return ctx->Corrupted;
  if (!ctx->Computed && ctx->Message_Block_Index >= kBlock) ctx->Corrupted = HA_NULL;
  return ctx->Corrupted;
}

}  // namespace ha_internal
