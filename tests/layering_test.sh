#!/usr/bin/env bash
# Fails when a layer of src/ includes a header of a layer it may not use:
# the layers only point down (console -> trace -> profile -> securestore ->
# crypto; profile -> encoding -> base), and securestore stands on crypto alone.
set -u
src=${1:?usage: layering_test.sh <src directory>}
declare -A allowed=(
  [crypto]="crypto"
  [base]="base"
  [securestore]="securestore crypto"
  [encoding]="encoding base"
  [profile]="profile securestore crypto encoding base"
  [trace]="trace profile securestore crypto encoding base"
  [console]="console trace profile securestore crypto encoding base"
)
status=0
for layer in "${!allowed[@]}"; do
  [ -d "$src/$layer" ] || { echo "$src/$layer: no such layer"; status=1; continue; }
  while IFS=: read -r file line used; do
    case " ${allowed[$layer]} " in
      *" $used "*) ;;
      *) echo "$file:$line: the $layer layer includes a header of $used"; status=1 ;;
    esac
  done < <(grep -rnoE '^#include "[a-z_]+/' "$src/$layer" | sed -E 's/#include "([a-z_]+)\//\1/')
done
exit $status
