// Results shared by the digest interfaces, the dispatcher and HMAC.
#pragma once

enum haResult_e {
  HA_SUCCESS = 0,
  // A null argument; also the mark of a context whose message grew past the
  // length its padding can encode.
  HA_NULL = 1,
  // Input after the digest was computed; the context is marked corrupted.
  HA_STATE_ERROR = 3,
  // An algorithm identifier outside the table.
  HA_UNKNOWN_ALGORITHM = 4,
  // A hashed HMAC key longer than the block (no algorithm of the table has
  // a digest longer than its block).
  HA_KEY_TOO_LONG = 5,
};
