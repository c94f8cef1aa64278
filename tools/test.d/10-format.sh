#!/bin/bash
# Format check: every C++ source of the tree is laid out as .clang-format
# says. Lists the files that are not, with the command that fixes them.
set -euo pipefail
cd "$(dirname "$0")/../.."
. tools/deps.sh
ensure_packages clang-format git
mapfile -t files < <(git ls-files '*.cpp' '*.h')
unformatted=()
for file in "${files[@]}"; do
  clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "Not formatted as .clang-format says (${#unformatted[@]} of ${#files[@]} files):"
  printf '  %s\n' "${unformatted[@]}"
  echo "Fix with: clang-format -i ${unformatted[*]}"
  exit 1
fi
echo "${#files[@]} C++ files formatted as .clang-format says"
