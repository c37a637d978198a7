// Result of the console's parser, of run and of every console operation.
#pragma once

enum NEBRIX_Retcode {
  NEBRIX_OK = 0,
  NEBRIX_NOT_OK = 1,
  NEBRIX_DATA_TRUNC = 2,
};
