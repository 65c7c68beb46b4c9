// Packs files with jlha's Java library (jp.gr.java_conf.dangan.util.lha),
// an LHA implementation independent of ours, in any method it writes and at
// any header level. Each line of the list file given as the only argument
// describes one archive:
//
//   ARCHIVE<TAB>METHOD<TAB>LEVEL<TAB>FILE[<TAB>FILE...]
//
// METHOD is the five-byte id ("-lh1-"), LEVEL 0 to 3; each FILE is stored
// under its path as given, with its modification time. Compiled and run by
// the tests at test time: javac -cp /usr/share/java/jlha.jar JlhaPack.java
import java.io.BufferedReader;
import java.io.File;
import java.io.FileOutputStream;
import java.io.FileReader;
import java.nio.file.Files;
import java.util.Date;

import jp.gr.java_conf.dangan.util.lha.LhaHeader;
import jp.gr.java_conf.dangan.util.lha.LhaOutputStream;

public class JlhaPack {
  public static void main(String[] args) throws Exception {
    try (BufferedReader list = new BufferedReader(new FileReader(args[0]))) {
      String line;
      while ((line = list.readLine()) != null) {
        if (line.isEmpty()) continue;
        String[] f = line.split("\t");
        try (LhaOutputStream out = new LhaOutputStream(new FileOutputStream(f[0]))) {
          for (int i = 3; i < f.length; i++) {
            File file = new File(f[i]);
            LhaHeader header = new LhaHeader(f[i], new Date(file.lastModified()));
            header.setCompressMethod(f[1]);
            header.setHeaderLevel(Integer.parseInt(f[2]));
            out.putNextEntry(header);
            out.write(Files.readAllBytes(file.toPath()));
            out.closeEntry();
          }
        }
      }
    }
  }
}
