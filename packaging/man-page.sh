#!/usr/bin/env bash
# Writes the manual page tessil(1) from the built program's own help, so that it documents every
# command and option the program has, under the version it reports: help2man formats the
# top-level help, then each command's help becomes a subsection of COMMANDS, and the property
# table follows as `tessil properties` prints it.
#   man-page.sh TESSIL OUTPUT
set -euo pipefail
tessil=$1 output=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# roff for text shown as it is: backslashes escaped, dashes as minus signs, no line taken for a
# request.
verbatim() { sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^[.']/\\\\\\&&/"; }

commands=$("$tessil" --help | sed -n '/^Subcommands:$/,/^$/s/^  \([a-z][a-z-]*\).*/\1/p')
[ -n "$commands" ] || { echo "man-page.sh: no commands in '$tessil --help'" >&2; exit 1; }
{
  echo "[COMMANDS]"
  for command in $commands; do
    echo ".SS \"tessil $command\""
    # A command's page from its SYNOPSIS on; its own sections become bold paragraph headings,
    # since a manual page has only two levels of heading.
    help2man --no-info --help-option="$command --help" --version-option=--version "$tessil" |
      sed -e '1,/^\.SH SYNOPSIS/d' \
          -e 's/^\.SH DESCRIPTION$/.PP/' \
          -e 's/^\.SH OPTIONS$/.PP\n\\fBOptions:\\fR/' \
          -e 's/^\.S[HS] "\{0,1\}\([^"]*[^":]\):\{0,1\}"\{0,1\}$/.PP\n\\fB\1:\\fR/'
  done
  echo "[PROPERTIES]"
  echo "The settings that \\fB\\-\\-set\\fR and \\fB\\-\\-settings\\fR take, with their defaults, as"
  echo ".B tessil properties"
  echo "lists them:"
  echo ".PP"
  echo ".nf"
  echo ".ft CR"
  "$tessil" properties | verbatim
  echo ".ft"
  echo ".fi"
  echo "[SEE ALSO]"
  echo ".BR sox (1),"
  echo ".BR analyseplugin (1),"
  echo ".BR lv2apply (1)"
} >"$work/sections.h2m"

help2man --no-info --version-option=--version --include="$work/sections.h2m" \
  --name="render and measure audio files through the Tessil loudness maximiser" \
  --output="$output" "$tessil"
