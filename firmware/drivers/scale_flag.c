#include "scale_flag.h"

volatile unsigned char ScaleFlag;

void scale_flag_measure(uint32_t loops) {
  ScaleFlag = 1;
  for (volatile uint32_t i = 0; i < loops; i++) {
  }
  ScaleFlag = 0;
}
