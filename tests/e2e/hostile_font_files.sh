# The hostile-fonts set, shared by the cases that feed it to the program. Source after lib.sh.
#   make_hostile_fonts DIR SFNT-FONT TYPE1-FONT
# writes damaged copies into DIR: truncated.ttf, past-end.ttf (a table past the end),
# zero-upem.ttf, many-tables.ttf (a huge table count), and Type 1 fonts with damaged
# dictionaries under names of their own (box-words, singular, huge, flat, open-string.t1),
# plus fifo.t1 and zero.t1, which a case turns into a FIFO and a link to /dev/zero.

# Big-endian numbers in a file: read N bytes at OFFSET, write a value at OFFSET.
get_be() { od -An -tu1 -j "$2" -N "$3" "$1" | awk '{ for (i = 1; i <= NF; i++) v = v * 256 + $i } END { print v }'; }
put_be() {
    local file=$1 at=$2 bytes=$3 value=$4 i hex=""
    for ((i = bytes - 1; i >= 0; i--)); do hex+=$(printf '\\x%02x' $(((value >> (8 * i)) & 255))); done
    printf "$hex" | dd of="$file" bs=1 seek="$at" conv=notrunc status=none
}
# Offset of the table directory record for TAG in an sfnt file.
table_record() {
    local file=$1 tag=$2 n i
    n=$(get_be "$file" 4 2)
    for ((i = 0; i < n; i++)); do
        [ "$(dd if="$file" bs=1 skip=$((12 + 16 * i)) count=4 status=none)" = "$tag" ] && { echo $((12 + 16 * i)); return; }
    done
    fail "no $tag table in $file"
}

make_hostile_fonts() {
    local fonts=$1 sfnt=$2 type1=$3
    head -c 3000 "$sfnt" >"$fonts/truncated.ttf"
    cp "$sfnt" "$fonts/past-end.ttf"
    put_be "$fonts/past-end.ttf" "$(($(table_record "$sfnt" hhea) + 8))" 4 4294967040
    cp "$sfnt" "$fonts/zero-upem.ttf"
    put_be "$fonts/zero-upem.ttf" "$(($(get_be "$sfnt" "$(($(table_record "$sfnt" head) + 8))" 4) + 18))" 2 0
    cp "$sfnt" "$fonts/many-tables.ttf"
    put_be "$fonts/many-tables.ttf" 4 2 65535

    # Type 1 fonts under names of their own, with damaged dictionaries.
    hostile_type1() { # FILE FAMILY SED-EXPRESSION
        LC_ALL=C sed -e "s|/FamilyName (C059)|/FamilyName ($2)|" -e "$3" "$type1" >"$fonts/$1"
    }
    hostile_type1 box-words.t1 "Hostile Box" 's|/FontBBox {[^}]*}|/FontBBox {a b c d}|'
    hostile_type1 singular.t1 "Hostile Matrix" 's|/FontMatrix \[[^]]*\]|/FontMatrix [0 0 0 0 0 0]|'
    hostile_type1 huge.t1 "Hostile Huge" 's|/FontBBox {[^}]*}|/FontBBox {-1e308 -99999999999999999999 1e308 99999999999999999999}|'
    hostile_type1 flat.t1 "Hostile Flat" 's|/FontBBox {[^}]*}|/FontBBox {0 0 0 0}|'
    hostile_type1 open-string.t1 "Hostile String" 's|/FontBBox|(unclosed /FontBBox|'
    hostile_type1 fifo.t1 "Hostile Fifo" 's|^$||'
    hostile_type1 zero.t1 "Hostile Zero" 's|^$||'
}
