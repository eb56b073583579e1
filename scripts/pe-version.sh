# Sourced by the release scripts: exe_version FILE prints the file version in a program's
# VS_FIXEDFILEINFO (found by its signature 0xFEEF04BD, followed by the structure version
# and the version's two halves), and fails unless there is exactly one version block.
exe_version() {
  local offsets versions=() offset ms ls
  offsets=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$1" | cut -d: -f1) || return 1
  for offset in $offsets; do
    read -r ms ls < <(od -An -tu4 -j $((offset + 8)) -N 8 "$1")
    versions+=("$((ms >> 16)).$((ms & 0xFFFF)).$((ls >> 16)).$((ls & 0xFFFF))")
  done
  # The program carries one version block (the library it embeds has none).
  [ "$(printf '%s\n' "${versions[@]}" | sort -u | wc -l)" -eq 1 ] || return 1
  echo "${versions[0]}"
}
